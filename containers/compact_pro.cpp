// Compact Pro archives (.cpt): a small header (0x01, a volume number, a
// cross-volume mark, the directory's offset), each file's forks (resource
// first, then data), and the directory at the end: its CRC-32, an entry
// count and a comment, then the entries in order.  A folder entry counts
// the entries under it, at every depth, so paths follow from the counts.
//
// Every fork goes through the run-length code, after LZH where the file's
// flags say (bit 1 the resource fork, bit 2 the data fork).  The CRC-32
// covers the resource fork and then the data fork, so checking a data fork
// decodes its resource fork first.  Both CRCs are stored without the final
// inversion.
#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "containers/decoders/cpt_decoders.h"
#include "containers/decoders/decoded_fork.h"
#include "containers/disk_volume.h"
#include "containers/formats.h"
#include "containers/source.h"

namespace containers {

namespace {

using disk::be16;
using disk::be32;

constexpr size_t kFileFields = 45;
constexpr uint16_t kEncrypted = 1, kResourceLzh = 2, kDataLzh = 4;
constexpr int kMaxDepth = 64;
constexpr size_t kChunk = 64 * 1024;

struct Fork {
    uint64_t offset = 0, length = 0;  // compressed, in the archive
    uint64_t size = 0;                // decoded, as declared
    bool lzh = false;
};

std::unique_ptr<sit::Decoder> decoder(std::shared_ptr<const Source> archive, const Fork &fork) {
    sit::ByteInput input(std::move(archive), fork.offset, fork.length);
    return cpt::rle_decoder(fork.lzh ? cpt::lzh_decoder(std::move(input)) : sit::stored_decoder(std::move(input)));
}

// The file's CRC-32 over the fork, from `start` (the resource fork's CRC,
// for a data fork); a resource fork, whose CRC is only a part, has nothing
// to meet.
class Crc32Check final : public ForkCheck {
public:
    Crc32Check(uint32_t start, std::optional<uint32_t> expected) : start_(start), expected_(expected) {}
    void restart() override { crc_ = start_; }
    void update(const uint8_t *data, size_t n) override { crc_ = cpt::crc32(crc_, data, n); }
    void end() override {
        if (expected_ && crc_ != *expected_) throw Error(Grade::kMember, "CRC mismatch: the file is damaged");
    }

private:
    uint32_t start_, crc_ = 0;
    std::optional<uint32_t> expected_;
};

std::unique_ptr<Source> fork_source(std::shared_ptr<const Source> archive, const Fork &fork, uint32_t start,
                                    std::optional<uint32_t> expected) {
    return decoded_fork([archive, fork] { return decoder(archive, fork); }, fork.size,
                        std::make_unique<Crc32Check>(start, expected));
}

// The CRC of a whole fork, from `crc`, decoding it without keeping it.
uint32_t fork_crc(std::shared_ptr<const Source> archive, const Fork &fork, uint32_t crc) {
    auto d = decoder(std::move(archive), fork);
    std::vector<uint8_t> chunk(kChunk);
    for (uint64_t left = fork.size; left > 0;) {
        const size_t got = d->read(chunk.data(), static_cast<size_t>(std::min<uint64_t>(chunk.size(), left)));
        if (got == 0) throw Error(Grade::kMember, "the resource fork ends before its declared size");
        crc = cpt::crc32(crc, chunk.data(), got);
        left -= got;
    }
    return crc;
}

class CompactPro final : public Container {
public:
    explicit CompactPro(std::shared_ptr<const Source> source) : source_(std::move(source)) {
        uint8_t head[8];
        read_exact(*source_, 0, head, sizeof head, Grade::kFatal, "the Compact Pro header");
        const uint32_t directory = be32(head + 4);
        uint8_t top[7];
        read_exact(*source_, directory, top, sizeof top, Grade::kFatal, "the Compact Pro directory");
        entries_ = be16(top + 4);
        at_ = directory + 7 + top[6];
        check_directory(directory, be32(top));
    }

    bool next(Member &member) override {
        for (;;) {
            if (read_ == entries_) return false;
            // Folders whose entries have all been read are left.
            while (!open_.empty() && open_.back().left == 0) open_.pop_back();
            uint8_t length;
            read(at_, &length, 1, "an entry's name");
            const size_t name_length = length & 0x7F;
            std::vector<uint8_t> name(name_length);
            read(at_ + 1, name.data(), name_length, "an entry's name");
            at_ += 1 + name_length;
            ++read_;
            for (Folder &f : open_) --f.left;
            if (length & 0x80) {
                uint8_t count[2];
                read(at_, count, 2, "a folder entry");
                at_ += 2;
                if (open_.size() == kMaxDepth) throw Error(Grade::kFatal, "the archive's folders nest too deep");
                open_.push_back({disk::mac_roman(name.data(), name.size()), be16(count)});
                if (open_.back().left > entries_ - read_) throw Error(Grade::kFatal, "a folder claims more entries than the archive holds");
                continue;
            }
            file(name, member);
            return true;
        }
    }

    std::unique_ptr<Source> data() override {
        if (!problem_.empty()) throw Error(Grade::kMember, problem_);
        if (data_.size == 0 && resource_.size == 0) {
            if (crc_ != cpt::kCrcStart) throw Error(Grade::kMember, "CRC mismatch: the file is damaged");
            return bytes({});
        }
        const uint32_t start = resource_.size == 0 ? cpt::kCrcStart : fork_crc(source_, resource_, cpt::kCrcStart);
        if (data_.size == 0) {
            if (start != crc_) throw Error(Grade::kMember, "CRC mismatch: the file is damaged");
            return bytes({});
        }
        return fork_source(source_, data_, start, crc_);
    }

    std::unique_ptr<Source> resource() override {
        if (!problem_.empty()) throw Error(Grade::kMember, problem_);
        if (resource_.size == 0) return bytes({});
        // The data fork's CRC check covers this one.
        return fork_source(source_, resource_, cpt::kCrcStart, std::nullopt);
    }

private:
    struct Folder {
        std::string name;
        uint32_t left;
    };

    void read(uint64_t at, void *buffer, size_t n, const char *what) const {
        read_exact(*source_, at, buffer, n, Grade::kFatal, (std::string("the Compact Pro directory (") + what + ")").c_str());
    }

    // The directory's CRC-32 covers it from the entry count to its end;
    // the end is known only by walking the entries, which is cheap.
    void check_directory(uint64_t directory, uint32_t stored) const {
        uint64_t at = at_;
        for (uint32_t i = 0; i < entries_; ++i) {
            uint8_t length;
            read(at, &length, 1, "an entry's name");
            at += 1 + (length & 0x7F) + (length & 0x80 ? 2 : kFileFields);
        }
        if (at > source_->size()) throw Error(Grade::kFatal, "the Compact Pro directory runs past the end of the file");
        std::vector<uint8_t> buffer(kChunk);
        uint32_t crc = cpt::kCrcStart;
        for (uint64_t p = directory + 4; p < at;) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), at - p));
            read(p, buffer.data(), n, "its entries");
            crc = cpt::crc32(crc, buffer.data(), n);
            p += n;
        }
        if (crc != stored) throw Error(Grade::kFatal, "the Compact Pro directory's CRC does not match: it is damaged");
    }

    void file(const std::vector<uint8_t> &name, Member &member) {
        uint8_t f[kFileFields];
        read(at_, f, sizeof f, "a file entry");
        at_ += sizeof f;
        member = Member{};
        for (const Folder &folder : open_) member.path.push_back(folder.name);
        member.path.push_back(disk::mac_roman(name.data(), name.size()));
        member.type = disk::four_cc(f + 5);
        member.creator = disk::four_cc(f + 9);
        member.created = disk::mac_date(be32(f + 13));
        member.modified = disk::mac_date(be32(f + 17));
        member.finder_flags = be16(f + 21);
        crc_ = be32(f + 23);
        const uint16_t flags = be16(f + 27);
        const uint64_t offset = be32(f + 1);
        resource_ = Fork{offset, be32(f + 37), be32(f + 29), (flags & kResourceLzh) != 0};
        data_ = Fork{offset + resource_.length, be32(f + 41), be32(f + 33), (flags & kDataLzh) != 0};
        member.resource_length = resource_.size;
        member.data_length = data_.size;
        problem_.clear();
        if (flags & kEncrypted)
            problem_ = "the file is encrypted";
        else if (data_.offset + data_.length > source_->size())
            problem_ = "the file's data lies past the end of the archive";
        member.problem = problem_;
    }

    std::shared_ptr<const Source> source_;
    uint32_t entries_ = 0, read_ = 0;
    uint64_t at_ = 0;
    std::vector<Folder> open_;
    Fork resource_, data_;
    uint32_t crc_ = 0;
    std::string problem_;
};

int bid(const Source &source, const uint8_t *head, size_t length) {
    if (length < 8 || head[0] != 1) return 0;
    const uint32_t directory = be32(head + 4);
    uint8_t top[7];
    if (directory < 8 || source.read_at(directory, top, sizeof top) != sizeof top || be16(top + 4) == 0) return 0;
    // The directory's CRC decides: a chance 0x01 and offset rarely match it.
    try {
        CompactPro archive(std::shared_ptr<const Source>(&source, [](const Source *) {}));
        return 90;
    } catch (const Error &) {
        return 0;
    }
}

std::unique_ptr<Container> open(std::shared_ptr<const Source> source) {
    return std::make_unique<CompactPro>(std::move(source));
}

}  // namespace

const Format &compact_pro_format() {
    static const Format format{"Compact Pro archive", bid, open};
    return format;
}

}  // namespace containers
