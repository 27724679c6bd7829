#include "containers/applesingle.h"

#include <cstring>

#include "containers/formats.h"
#include "containers/names.h"
#include "mactext/roman.h"
#include "mactext/clock.h"
#include "containers/source.h"
#include "containers/wrapper.h"

namespace containers {

namespace {

constexpr uint32_t kSingleMagic = 0x00051600, kDoubleMagic = 0x00051607;
constexpr uint32_t kVersion1 = 0x00010000, kVersion2 = 0x00020000;
constexpr size_t kHeaderSize = 26, kEntrySize = 12;
// Real files have a handful of entries; more is a damaged header.
constexpr uint16_t kMostEntries = 256;

enum EntryId : uint32_t {
    kDataFork = 1,
    kResourceFork = 2,
    kRealName = 3,
    kFileInfo = 7,   // version 1: Macintosh dates and attributes
    kFileDates = 8,  // version 2: dates from 2000
    kFinderInfo = 9,
};

struct Entry {
    uint32_t id, offset, length;
};

struct Parsed {
    uint32_t magic = 0, version = 0;
    std::vector<Entry> entries;
};

bool header_ok(const uint8_t *head, size_t length, uint32_t magic) {
    if (length < kHeaderSize || be32(head) != magic) return false;
    const uint32_t version = be32(head + 4);
    return version == kVersion1 || version == kVersion2;
}

// The header and its entries, each within the file; throws Error of `grade`.
Parsed parse(const Source &source, Grade grade) {
    uint8_t head[kHeaderSize];
    read_exact(source, 0, head, sizeof head, grade, "the AppleSingle header");
    Parsed p;
    p.magic = be32(head);
    p.version = be32(head + 4);
    const uint16_t count = be16(head + 24);
    if (count > kMostEntries) throw Error(grade, "the AppleSingle header lists " + std::to_string(count) + " entries");
    for (uint16_t i = 0; i < count; ++i) {
        uint8_t e[kEntrySize];
        read_exact(source, kHeaderSize + uint64_t{i} * kEntrySize, e, sizeof e, grade, "an AppleSingle entry");
        const Entry entry{be32(e), be32(e + 4), be32(e + 8)};
        if (uint64_t{entry.offset} + entry.length > source.size())
            throw Error(grade, "an AppleSingle entry (" + std::to_string(entry.id) + ") lies past the end of the file");
        p.entries.push_back(entry);
    }
    return p;
}

const Entry *find(const Parsed &p, uint32_t id) {
    for (const Entry &e : p.entries)
        if (e.id == id) return &e;
    return nullptr;
}

std::optional<int64_t> date_since_2000(uint32_t stored) {
    constexpr int64_t k2000ToUnix = 946684800;
    if (stored == 0x80000000u) return std::nullopt;  // "unknown"
    return static_cast<int32_t>(stored) + k2000ToUnix;
}

void read_finder_fields(const Source &source, const Parsed &p, Member &member) {
    if (const Entry *e = find(p, kFinderInfo); e != nullptr && e->length >= 10) {
        uint8_t info[10];
        read_exact(source, e->offset, info, sizeof info, Grade::kMember, "the Finder info");
        member.type.assign(reinterpret_cast<const char *>(info), 4);
        member.creator.assign(reinterpret_cast<const char *>(info + 4), 4);
        member.finder_flags = be16(info + 8);
    }
    if (const Entry *e = find(p, kFileDates); e != nullptr && e->length >= 8 && p.version == kVersion2) {
        uint8_t dates[8];
        read_exact(source, e->offset, dates, sizeof dates, Grade::kMember, "the file dates");
        member.created = date_since_2000(be32(dates));
        member.modified = date_since_2000(be32(dates + 4));
    }
    if (const Entry *e = find(p, kFileInfo); e != nullptr && e->length >= 8 && p.version == kVersion1) {
        uint8_t dates[8];
        read_exact(source, e->offset, dates, sizeof dates, Grade::kMember, "the file info");
        member.created = mactext::mac_date(be32(dates));
        member.modified = mactext::mac_date(be32(dates + 4));
    }
    if (const Entry *e = find(p, kResourceFork)) member.resource_length = e->length;
}

int bid(const Source &, const uint8_t *head, size_t length) { return header_ok(head, length, kSingleMagic) ? 100 : 0; }

class AppleSingle final : public OneMember {
public:
    explicit AppleSingle(std::shared_ptr<const Source> source) : source_(std::move(source)) {
        const Parsed p = parse(*source_, Grade::kFatal);
        if (p.magic != kSingleMagic) throw Error(Grade::kFatal, "not an AppleSingle file");
        std::string name;
        if (const Entry *e = find(p, kRealName); e != nullptr && e->length > 0 && e->length <= 255) {
            name.resize(e->length);
            read_exact(*source_, e->offset, name.data(), name.size(), Grade::kFatal, "the real name");
        }
        // Version 2 names may be any encoding; Mac OS Roman is what a Mac wrote.
        member_.path.push_back(mactext::mac_roman_to_utf8(name));
        read_finder_fields(*source_, p, member_);
        if (const Entry *e = find(p, kDataFork)) {
            data_ = *e;
            member_.data_length = e->length;
        }
        if (const Entry *e = find(p, kResourceFork)) resource_ = *e;
    }
    std::unique_ptr<Source> data() override { return range(source_, data_.offset, data_.length); }
    std::unique_ptr<Source> resource() override { return range(source_, resource_.offset, resource_.length); }

private:
    std::shared_ptr<const Source> source_;
    Entry data_{kDataFork, 0, 0};
    Entry resource_{kResourceFork, 0, 0};
};

std::unique_ptr<Container> open(std::shared_ptr<const Source> source) {
    return std::make_unique<AppleSingle>(std::move(source));
}

}  // namespace

std::optional<std::string> companion_of(const std::string &name) {
    if (name.size() > 2 && name.compare(0, 2, "._") == 0) return name.substr(2);
    return std::nullopt;
}

std::optional<std::vector<std::string>> companion_target(const std::vector<std::string> &path) {
    if (path.empty()) return std::nullopt;
    const auto name = companion_of(path.back());
    if (!name) return std::nullopt;
    std::vector<std::string> target(path.begin(), path.end() - 1);
    if (!target.empty() && target.front() == "__MACOSX") target.erase(target.begin());
    target.push_back(*name);
    return target;
}

bool apply_companion(const Source &source, Member &member) {
    uint8_t head[kHeaderSize];
    if (source.read_at(0, head, sizeof head) != sizeof head) return false;
    if (!header_ok(head, sizeof head, kDoubleMagic) && !header_ok(head, sizeof head, kSingleMagic)) return false;
    try {
        Member read = member;
        read_finder_fields(source, parse(source, Grade::kMember), read);
        member = read;
        return true;
    } catch (const Error &) {
        return false;
    }
}

std::unique_ptr<Source> companion_resource(std::shared_ptr<const Source> source) {
    const Parsed p = parse(*source, Grade::kMember);
    if (p.magic != kDoubleMagic && p.magic != kSingleMagic) throw Error(Grade::kMember, "not an AppleDouble file");
    const Entry *e = find(p, kResourceFork);
    if (e == nullptr) throw Error(Grade::kMember, "its AppleDouble file holds no resource fork");
    return range(std::move(source), e->offset, e->length);
}

const Format &applesingle_format() {
    static const Format format{"AppleSingle", bid, open};
    return format;
}

}  // namespace containers
