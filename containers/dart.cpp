// DART disk images: a header (the compression, the disk's kind, its size in
// KB, then one length per 20 KB of disk), then the chunks.  Each chunk holds
// 40 sectors of 512 bytes followed by their 40 tag records of 12 bytes
// (20960 bytes), compressed on its own: "fast" (an RLE on 16-bit words, the
// length counted in words), "best" (LZHUF, counted in bytes), or stored
// whole (a length of 0xFFFF).  Tags are Lisa's business and are dropped.
//
// As for a DiskCopy image, the volume on the disk is opened and its files
// are the image's own.  The data checksums live in the resource fork and are
// not checked.
#include "containers/chunked.h"
#include "containers/disk_volume.h"
#include "containers/formats.h"
#include "containers/source.h"

namespace containers {

namespace {

using disk::be16;

constexpr uint64_t kChunkData = 40 * 512;
constexpr uint64_t kChunkWhole = 40 * (512 + 12);  // 20960
constexpr uint16_t kStoredWhole = 0xFFFF;
enum Compression : uint8_t { kFast = 0, kBest = 1, kNone = 2 };

struct Header {
    uint8_t compression;
    uint64_t disk_size;
    std::vector<uint16_t> lengths;
    uint64_t data_at;
};

// The header, when its fields agree with one another and with the file's
// size; false otherwise.
bool read_header(const Source &source, const uint8_t *head, size_t length, Header &h) {
    if (length < 4 || head[0] > kNone) return false;
    const uint8_t kind = head[1];
    if (kind != 1 && kind != 2 && kind != 3 && kind != 0x10 && kind != 0x11 && kind != 0x12) return false;
    const uint16_t kilobytes = be16(head + 2);
    if (kilobytes != 400 && kilobytes != 800 && kilobytes != 720 && kilobytes != 1440) return false;
    const size_t chunks = kilobytes == 1440 ? 72 : 40;
    if (length < 4 + 2 * chunks) return false;
    h = {head[0], uint64_t{kilobytes} * 1024, {}, 4 + 2 * chunks};
    uint64_t stored = 0;
    for (size_t i = 0; i < chunks; ++i) {
        const uint16_t n = be16(head + 4 + 2 * i);
        const uint64_t bytes = n == kStoredWhole ? kChunkWhole : h.compression == kFast ? 2 * uint64_t{n} : n;
        if (n != kStoredWhole && bytes > kChunkWhole * 2) return false;
        h.lengths.push_back(n);
        stored += bytes;
    }
    return stored > 0 && h.data_at + stored <= source.size();
}

std::vector<Chunk> chunks_of(const Header &h) {
    std::vector<Chunk> chunks;
    uint64_t in_at = h.data_at;
    for (size_t i = 0; i < h.lengths.size() && i * kChunkData < h.disk_size; ++i) {
        Chunk c;
        c.at = i * kChunkData;
        c.length = std::min(kChunkData, h.disk_size - c.at);
        const uint16_t n = h.lengths[i];
        if (n == kStoredWhole) {
            c.kind = Chunk::Kind::kStored;
            c.in_length = kChunkWhole;
        } else if (n != 0) {
            c.kind = h.compression == kNone ? Chunk::Kind::kStored : Chunk::Kind::kDecoded;
            c.decoder = h.compression == kFast ? decoders::dart_rle_decoder : decoders::lzhuf_decoder;
            c.in_length = h.compression == kFast ? 2 * uint64_t{n} : n;
        }
        c.in_at = in_at;
        in_at += c.in_length;
        chunks.push_back(std::move(c));
    }
    return chunks;
}

int bid(const Source &source, const uint8_t *head, size_t length) {
    Header h;
    return read_header(source, head, length, h) ? 95 : 0;
}

std::unique_ptr<Container> open(std::shared_ptr<const Source> source) {
    uint8_t head[4 + 2 * 72];
    const size_t length = source->read_at(0, head, sizeof head);
    Header h;
    if (!read_header(*source, head, length, h)) throw Error(Grade::kFatal, "not a DART image");
    std::shared_ptr<const Source> disk = chunked(source, chunks_of(h), h.disk_size);
    auto volume = disk::open_volume(disk);
    if (volume == nullptr) throw Error(Grade::kFatal, "the DART image holds no MFS or HFS volume");
    return volume;
}

}  // namespace

const Format &dart_format() {
    static const Format format{"DART image", bid, open};
    return format;
}

}  // namespace containers
