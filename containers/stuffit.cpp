// StuffIt archives: the classic format of StuffIt 1.5 to 4.x (a 22-byte
// archive header, then 112-byte entry headers in order, folders opened and
// closed by marker entries) and the format of StuffIt 5 (a text banner, then
// entries linked by offsets, folders pointing at their first child).  Each
// fork decodes through its method's streaming decoder (sit_*.cpp), capped
// at its declared size and checked against its stored CRC.
#include "containers/stuffit.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "containers/formats.h"
#include "containers/names.h"
#include "containers/decoders/decoded_fork.h"
#include "mactext/roman.h"
#include "mactext/clock.h"
#include "containers/decoders/sit_decoders.h"
#include "containers/source.h"
#include "host/kavrel.h"

namespace containers {

namespace {

constexpr size_t kClassicHeader = 22, kClassicEntry = 112;
constexpr size_t kSit5Header = 100, kSit5Entry = 48;
constexpr uint64_t kSearchLimit = 1u << 20;  // self-extracting archives: the first megabyte
constexpr int kFolderStart = 32, kFolderEnd = 33, kEncrypted = 0x10;
constexpr uint8_t kSit5Folder = 0x40, kSit5Encrypted = 0x20;
constexpr size_t kChunk = 64 * 1024;
constexpr char kBanner[] = "StuffIt (c)1997-";
constexpr size_t kBannerLength = sizeof kBanner - 1;

uint16_t be16(const uint8_t *p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
uint32_t be32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 | p[3];
}

bool classic_at(const uint8_t *p, size_t n) {
    static const char *const kSignatures[] = {"SIT!", "ST46", "ST50", "ST60", "ST65", "STin", "STi2", "STi3", "STi4"};
    if (n < kClassicHeader || std::memcmp(p + 10, "rLau", 4) != 0) return false;
    return std::any_of(std::begin(kSignatures), std::end(kSignatures),
                       [p](const char *s) { return std::memcmp(p, s, 4) == 0; });
}

bool sit5_at(const uint8_t *p, size_t n) { return n >= kSit5Header && std::memcmp(p, kBanner, kBannerLength) == 0; }

std::string roman(const uint8_t *p, size_t n) {
    return mactext::mac_roman_to_utf8(std::string_view(reinterpret_cast<const char *>(p), n));
}

std::string four_chars(const uint8_t *p) { return roman(p, 4); }

const char *method_name(int method) {
    switch (method) {
        case 3: return "Huffman";
        case 5: return "LZAH";
        case 6: return "fixed Huffman";
        case 8: return "Miller-Wegman";
        case 14: return "installer";
        default: return "unknown";
    }
}

// Where a fork's compressed bytes lie and how they decode.
struct Fork {
    uint64_t offset = 0, length = 0;  // compressed, in the source
    uint64_t size = 0;                // decoded, as declared
    int method = 0;
    bool encrypted = false;
    uint16_t crc = 0;  // of the decoded bytes; Arsenic checks its own CRC-32 instead
    bool cut = false;  // the archive ends before the fork does

    // Why this fork cannot be read, or empty.
    std::string problem() const {
        if (size == 0) return "";
        if (cut) return "the entry's data lies past the end of the archive";
        if (encrypted) return "the entry is encrypted";
        switch (method) {
            case 0:
                if (size > length) return "the stored fork is shorter than its declared size";
                return "";
            case 1: case 2: case 13: case 15: return "";
            default:
                return "compressed with StuffIt method " + std::to_string(method) + " (" + method_name(method) +
                       "), which mwconv does not read";
        }
    }
};

// The decoder of a fork's method over its compressed bytes.
std::unique_ptr<sit::Decoder> fork_decoder(std::shared_ptr<const Source> archive, const Fork &fork) {
    sit::ByteInput input(std::move(archive), fork.offset, fork.length);
    switch (fork.method) {
        case 0: return sit::stored_decoder(std::move(input));
        case 1: return sit::rle90_decoder(std::move(input));
        case 2: return sit::lzw_decoder(std::move(input));
        case 13: return sit::lzh_decoder(std::move(input));
        default: return sit::arsenic_decoder(std::move(input), fork.size);
    }
}

// The CRC-16 of the decoded fork; Arsenic checks its own CRC-32 as it ends.
class Crc16Check final : public ForkCheck {
public:
    explicit Crc16Check(const Fork &fork) : expected_(fork.crc), checked_(fork.method != 15) {}
    void restart() override { crc_ = 0; }
    void update(const uint8_t *data, size_t n) override { crc_ = sit::crc16(crc_, data, n); }
    void end() override {
        if (checked_ && crc_ != expected_) throw Error(Grade::kMember, "CRC mismatch: the fork is damaged");
    }

private:
    uint16_t expected_, crc_ = 0;
    bool checked_;
};

struct Entry {
    Member member;
    Fork data, resource;
};

// What both generations share: the entries they list, one at a time, and
// the forks of the entry listed last.
class Archive : public StuffItArchive {
public:
    explicit Archive(std::shared_ptr<const Source> source) : source_(std::move(source)) {}

    bool next(Member &member) override {
        Entry entry;
        if (!next_entry(entry)) return false;
        entry.member.problem = entry.data.problem();
        current_ = entry;
        member = std::move(entry.member);
        return true;
    }

    std::unique_ptr<Source> data() override { return fork(current_.data); }
    std::unique_ptr<Source> resource() override { return fork(current_.resource); }

protected:
    virtual bool next_entry(Entry &entry) = 0;

    void read(uint64_t offset, void *buffer, size_t n, const char *what) const {
        read_exact(*source_, offset, buffer, n, Grade::kFatal, what);
    }

    std::shared_ptr<const Source> source_;

private:
    std::unique_ptr<Source> fork(const Fork &f) const {
        const std::string problem = f.problem();
        if (!problem.empty()) throw Error(Grade::kMember, problem);
        if (f.size == 0) return bytes({});
        auto archive = source_;
        return decoded_fork([archive, f] { return fork_decoder(archive, f); }, f.size, std::make_unique<Crc16Check>(f));
    }

    Entry current_;
};

// StuffIt 1.5 to 4.x: entries follow each other, each header followed by
// its resource fork, then its data fork.
class ClassicArchive final : public Archive {
public:
    ClassicArchive(std::shared_ptr<const Source> source, uint64_t base) : Archive(std::move(source)) {
        uint8_t header[kClassicHeader];
        read(base, header, sizeof header, "the StuffIt archive header");
        const uint64_t declared = be32(header + 6);
        const uint64_t available = source_->size() - base;
        end_ = base + (declared >= kClassicHeader && declared <= available ? declared : available);
        pos_ = base + kClassicHeader;
    }

private:
    bool next_entry(Entry &entry) override {
        while (pos_ + kClassicEntry <= end_) {
            uint8_t h[kClassicEntry];
            read(pos_, h, sizeof h, "an entry header");
            if (sit::crc16(0, h, 110) != be16(h + 110))
                throw Error(Grade::kFatal, "entry header damaged at offset " + std::to_string(pos_));
            const int rm = h[0] & ~kEncrypted, dm = h[1] & ~kEncrypted;
            const size_t name_length = std::min<size_t>(h[2], 63);
            pos_ += kClassicEntry;
            if (rm == kFolderStart || dm == kFolderStart) {
                folders_.push_back(roman(h + 3, name_length));
                continue;
            }
            if (rm == kFolderEnd || dm == kFolderEnd) {
                if (!folders_.empty()) folders_.pop_back();
                continue;
            }
            fill(entry, h, name_length);
            return true;
        }
        return false;
    }

    void fill(Entry &entry, const uint8_t *h, size_t name_length) {
        Member &m = entry.member;
        m.path = folders_;
        m.path.push_back(roman(h + 3, name_length));
        m.type = four_chars(h + 66);
        m.creator = four_chars(h + 70);
        m.finder_flags = be16(h + 74);
        m.created = mactext::mac_date(be32(h + 76));
        m.modified = mactext::mac_date(be32(h + 80));
        m.resource_length = be32(h + 84);
        m.data_length = be32(h + 88);
        entry.resource = {pos_, be32(h + 92), m.resource_length, h[0] & 0x0F, (h[0] & kEncrypted) != 0, be16(h + 100)};
        entry.data = {pos_ + entry.resource.length, be32(h + 96), m.data_length, h[1] & 0x0F,
                      (h[1] & kEncrypted) != 0, be16(h + 102)};
        pos_ = entry.data.offset + entry.data.length;
        entry.resource.cut = entry.resource.offset + entry.resource.length > end_;
        entry.data.cut = pos_ > end_;
    }

    std::vector<std::string> folders_;
    uint64_t pos_ = 0, end_ = 0;
};

// StuffIt 5: entries linked by offsets from the archive's start; a folder
// holds its first child's offset and its child count.
class Sit5Archive final : public Archive {
public:
    Sit5Archive(std::shared_ptr<const Source> source, uint64_t base) : Archive(std::move(source)), base_(base) {
        uint8_t header[kSit5Header];
        read(base, header, sizeof header, "the StuffIt archive header");
        levels_.push_back({be32(header + 94), be16(header + 92), {}});
    }

private:
    struct Level {
        uint32_t next;
        uint32_t left;
        std::vector<std::string> path;
    };

    bool next_entry(Entry &entry) override {
        while (!levels_.empty()) {
            Level &level = levels_.back();
            if (level.left == 0 || level.next == 0) {
                levels_.pop_back();
                continue;
            }
            const uint64_t offset = base_ + level.next;
            if (!visited_.insert(offset).second)
                throw Error(Grade::kFatal, "entries link back to the entry at offset " + std::to_string(offset));
            uint8_t h[kSit5Entry];
            read(offset, h, sizeof h, "an entry header");
            if (be32(h) != 0xA5A5A5A5u) throw Error(Grade::kFatal, "entry header damaged at offset " + std::to_string(offset));
            level.next = be32(h + 22);
            const uint8_t flags = h[9];
            if ((flags & kSit5Folder) && be32(h + 34) == 0xFFFFFFFFu) continue;  // a marker, not an entry
            --level.left;
            const std::vector<uint8_t> header = whole_header(offset, h);
            const size_t name_at = (flags & kSit5Folder) ? kSit5Entry : kSit5Entry + h[47];
            const size_t name_length = be16(h + 30);
            if (name_at + name_length > header.size()) throw Error(Grade::kFatal, "entry name runs past its header");
            std::vector<std::string> path = level.path;
            path.push_back(roman(header.data() + name_at, name_length));
            if (flags & kSit5Folder) {
                levels_.push_back({be32(h + 34), be16(h + 46), std::move(path)});
                continue;
            }
            entry.member.path = std::move(path);
            fill(entry, offset, header);
            return true;
        }
        return false;
    }

    std::vector<uint8_t> whole_header(uint64_t offset, const uint8_t *h) const {
        const size_t size = be16(h + 6);
        if (size < kSit5Entry) throw Error(Grade::kFatal, "entry header damaged at offset " + std::to_string(offset));
        std::vector<uint8_t> header(size);
        read(offset, header.data(), size, "an entry header");
        const uint16_t stored = be16(header.data() + 32);
        header[32] = header[33] = 0;
        if (sit::crc16(0, header.data(), size) != stored)
            throw Error(Grade::kFatal, "entry header damaged at offset " + std::to_string(offset));
        return header;
    }

    void fill(Entry &entry, uint64_t offset, const std::vector<uint8_t> &h) {
        Member &m = entry.member;
        const bool encrypted = (h[9] & kSit5Encrypted) != 0;
        m.created = mactext::mac_date(be32(&h[10]));
        m.modified = mactext::mac_date(be32(&h[14]));
        // The second block: Finder information, then the resource fork's.
        const uint64_t block = offset + h.size();
        const size_t info_length = h[4] == 1 ? 36 : 32;
        uint8_t b[50] = {};
        read(block, b, info_length, "an entry's Finder information");
        m.type = four_chars(b + 4);
        m.creator = four_chars(b + 8);
        m.finder_flags = be16(b + 12);
        uint64_t forks = block + info_length;
        if (be16(b) & 1) {
            uint8_t *r = b + info_length;
            read(forks, r, 14, "an entry's resource fork header");
            forks += 14;
            m.resource_length = be32(r);
            entry.resource = {forks, be32(r + 4), m.resource_length, r[12], encrypted, be16(r + 8)};
        }
        m.data_length = be32(&h[34]);
        entry.data = {forks + entry.resource.length, be32(&h[38]), m.data_length, h[46], encrypted, be16(&h[42])};
        entry.resource.cut = entry.resource.offset + entry.resource.length > source_->size();
        entry.data.cut = entry.data.offset + entry.data.length > source_->size();
    }

    uint64_t base_;
    std::vector<Level> levels_;
    std::set<uint64_t> visited_;
};

bool archive_at(const uint8_t *p, size_t n) { return classic_at(p, n) || sit5_at(p, n); }

int bid(const Source &source, const uint8_t *head, size_t head_length) {
    if (archive_at(head, head_length)) return 100;
    // A self-extracting archive: a program with the archive inside.  Low,
    // so that a disk image holding an archive stays a disk image.
    return find_stuffit(source) ? 20 : 0;
}

std::unique_ptr<Container> open(std::shared_ptr<const Source> source) { return open_stuffit(std::move(source)); }

}  // namespace

std::optional<uint64_t> find_stuffit(const Source &source) {
    const uint64_t limit = std::min<uint64_t>(source.size(), kSearchLimit);
    std::vector<uint8_t> buffer(kChunk + kSit5Header);
    for (uint64_t start = 0; start < limit; start += kChunk) {
        const size_t got = source.read_at(start, buffer.data(), buffer.size());
        // Every input is searched: memchr finds the signatures' first letter.
        const uint8_t *const begin = buffer.data();
        const uint8_t *const end = begin + std::min<uint64_t>(std::min<size_t>(got, kChunk), limit - start);
        for (const uint8_t *p = begin; (p = static_cast<const uint8_t *>(std::memchr(p, 'S', static_cast<size_t>(end - p))));
             ++p)
            if (archive_at(p, got - static_cast<size_t>(p - begin))) return start + static_cast<uint64_t>(p - begin);
        if (got < buffer.size()) break;
    }
    return std::nullopt;
}

std::unique_ptr<StuffItArchive> open_stuffit(std::shared_ptr<const Source> source) {
    const auto base = find_stuffit(*source);
    if (!base) throw Error(Grade::kFatal, "no StuffIt archive found");
    uint8_t head[kBannerLength];
    read_exact(*source, *base, head, sizeof head, Grade::kFatal, "the StuffIt archive header");
    if (std::memcmp(head, kBanner, kBannerLength) == 0) return std::make_unique<Sit5Archive>(std::move(source), *base);
    return std::make_unique<ClassicArchive>(std::move(source), *base);
}

const Format &stuffit_format() {
    static const Format format{"StuffIt archive", bid, open};
    return format;
}

}  // namespace containers
