// MacBinary I, II and III: a 128-byte header (name, type, creator, Finder
// flags, dates, fork lengths) before the data fork and the resource fork,
// each padded to 128 bytes.  II adds a CRC of the header, III a signature.
#include <cstring>

#include "containers/formats.h"
#include "containers/names.h"
#include "mactext/roman.h"
#include "mactext/clock.h"
#include "containers/source.h"
#include "containers/wrapper.h"
#include "host/macbinary.h"

namespace containers {

namespace {

constexpr uint64_t kHeader = 128;
constexpr size_t kNameLengthAt = 1, kTypeAt = 65, kFlagsHighAt = 73, kZeroAt = 74, kZero2At = 82, kDataLengthAt = 83,
                 kResourceLengthAt = 87, kFlagsLowAt = 101, kSignatureAt = 102, kSecondaryAt = 120, kWrittenByAt = 122,
                 kCrcAt = 124;

uint64_t padded(uint64_t n) { return (n + kHeader - 1) / kHeader * kHeader; }

uint64_t data_start(const uint8_t *h) { return kHeader + padded(be16(h + kSecondaryAt)); }

// The fields that every version has, and forks that fit the file.
bool sound(const uint8_t *h, uint64_t size) {
    if (h[0] != 0 || h[kZeroAt] != 0 || h[kZero2At] != 0) return false;
    if (h[kNameLengthAt] < 1 || h[kNameLengthAt] > 63) return false;
    const uint64_t data = be32(h + kDataLengthAt), resource = be32(h + kResourceLengthAt);
    if (data > 0x7FFFFFFF || resource > 0x7FFFFFFF) return false;
    // The last fork may go unpadded.
    return data_start(h) + padded(data) + resource <= size || (data_start(h) + data <= size && resource == 0);
}

bool crc_matches(const uint8_t *h) { return kavrel::macbinary::header_crc(h) == be16(h + kCrcAt); }

// MacBinary I leaves the bytes past the dates zero.
bool version_one(const uint8_t *h) {
    for (size_t i = 99; i < 126; ++i)
        if (h[i] != 0) return false;
    return true;
}

// Without a CRC or a signature: printable type and creator, and a file that
// ends where its forks end.
bool plausible_version_one(const uint8_t *h, uint64_t size) {
    for (size_t i = kTypeAt; i < kTypeAt + 8; ++i)
        if (h[i] < 0x20) return false;
    return size <= data_start(h) + padded(be32(h + kDataLengthAt)) + padded(be32(h + kResourceLengthAt));
}

bool version_two_or_later(const uint8_t *h) { return h[kWrittenByAt] >= 129 && h[kWrittenByAt + 1] >= 129; }

int bid(const Source &source, const uint8_t *head, size_t length) {
    if (length < kHeader || !sound(head, source.size())) return 0;
    if (crc_matches(head) && !version_one(head)) return 100;
    // A header sound but for its CRC is read with a warning; MacBinary I
    // has no CRC, and only its fixed zeros tell it from other bytes.
    if (version_two_or_later(head) || std::memcmp(head + kSignatureAt, "mBIN", 4) == 0) return 50;
    if (version_one(head) && plausible_version_one(head, source.size())) return 40;
    return 0;
}

class MacBinary final : public OneMember {
public:
    explicit MacBinary(std::shared_ptr<const Source> source) : source_(std::move(source)) {
        uint8_t h[kHeader];
        read_exact(*source_, 0, h, sizeof h, Grade::kFatal, "the MacBinary header");
        if (!sound(h, source_->size())) throw Error(Grade::kFatal, "not a MacBinary file");
        // The fields the plug-in's reader takes from the header, and the
        // Finder flags that only a container needs.
        const kavrel::macbinary::Fields f = kavrel::macbinary::fields(h);
        member_.path.push_back(mactext::mac_roman_to_utf8(f.name));
        member_.type = f.type;
        member_.creator = f.creator;
        member_.finder_flags = static_cast<uint16_t>(h[kFlagsHighAt] << 8 | h[kFlagsLowAt]);
        member_.created = mactext::mac_date(f.created);
        member_.modified = mactext::mac_date(f.modified);
        member_.data_length = f.data_length;
        member_.resource_length = f.resource_length;
        if (!version_one(h) && !crc_matches(h)) member_.warning = "the MacBinary header's CRC does not match";
        data_at_ = data_start(h);
    }
    std::unique_ptr<Source> data() override { return range(source_, data_at_, member_.data_length); }
    std::unique_ptr<Source> resource() override {
        return range(source_, data_at_ + padded(member_.data_length), member_.resource_length);
    }

private:
    std::shared_ptr<const Source> source_;
    uint64_t data_at_ = kHeader;
};

std::unique_ptr<Container> open(std::shared_ptr<const Source> source) {
    return std::make_unique<MacBinary>(std::move(source));
}

}  // namespace

const Format &macbinary_format() {
    static const Format format{"MacBinary", bid, open};
    return format;
}

}  // namespace containers
