// BinHex 4.0: a file's header and forks, run-length coded (0x90), then
// written six bits to a printable character, between colons, after the line
// "(This file must be converted with BinHex 4.0)".  The header and each fork
// end with a CRC-16.
#include <cstring>
#include <string_view>
#include <vector>

#include "containers/formats.h"
#include "containers/names.h"
#include "mactext/roman.h"
#include "containers/decoded.h"
#include "containers/source.h"
#include "containers/wrapper.h"

namespace containers {

namespace {

constexpr std::string_view kMarker = "(This file must be converted with BinHex";
constexpr std::string_view kAlphabet = "!\"#$%&'()*+,-012345689@ABCDEFGHIJKLMNPQRSTUVXYZ[`abcdefhijklmpqr";
constexpr uint8_t kRunMarker = 0x90;
// Two encoded bytes (0x90 and a count) stand for at most 255 bytes, and
// four characters carry three bytes: no fork can be longer than this many
// times the text.
constexpr uint64_t kMostExpansion = 96;

// Where the encoded text starts (just past its opening colon), or 0.
uint64_t find_start(const uint8_t *head, size_t length) {
    const std::string_view text(reinterpret_cast<const char *>(head), length);
    const size_t marker = text.find(kMarker);
    if (marker == std::string_view::npos) return 0;
    const size_t colon = text.find(':', marker + kMarker.size());
    return colon == std::string_view::npos ? 0 : colon + 1;
}

// Mail and news headers may run past the first bytes: text without the
// marker is searched this far.
constexpr size_t kTextSearch = 65536;

// Where the encoded text starts in `source`, or 0.
uint64_t find_start(const Source &source, const uint8_t *head, size_t length) {
    if (const uint64_t start = find_start(head, length); start != 0 || length < kHead) return start;
    if (std::memchr(head, 0, length) != nullptr) return 0;  // not text
    std::vector<uint8_t> more(static_cast<size_t>(std::min<uint64_t>(kTextSearch, source.size())));
    more.resize(source.read_at(0, more.data(), more.size()));
    return find_start(more.data(), more.size());
}

int bid(const Source &source, const uint8_t *head, size_t length) { return find_start(source, head, length) != 0 ? 100 : 0; }

// The decoded bytes, run-length codes expanded, read on demand.
class Decoder {
public:
    Decoder(std::shared_ptr<const Source> source, uint64_t at) : source_(std::move(source)), at_(at) {
        for (int &v : value_) v = -1;
        for (size_t i = 0; i < kAlphabet.size(); ++i) value_[static_cast<uint8_t>(kAlphabet[i])] = static_cast<int>(i);
    }

    // The next byte; throws Error of `grade` at the end of the text.
    uint8_t get(Grade grade) {
        for (;;) {
            if (repeat_ > 0) {
                --repeat_;
                return last_;
            }
            const int b = octet(grade);
            if (b < 0) cut_short(grade);
            if (b != kRunMarker) return last_ = static_cast<uint8_t>(b);
            const int count = octet(grade);
            if (count < 0) cut_short(grade);
            if (count == 0) return last_ = kRunMarker;
            // A run of `count` bytes, the first of which was given already.
            repeat_ = count - 1;
        }
    }

    void read(uint8_t *out, size_t n, Grade grade) {
        for (size_t i = 0; i < n; ++i) out[i] = get(grade);
    }

private:
    [[noreturn]] static void cut_short(Grade grade) { throw Error(grade, "the BinHex text ends early"); }

    int character() {
        if (pos_ == end_) {
            end_ = source_->read_at(at_, buffer_, sizeof buffer_);
            at_ += end_;
            pos_ = 0;
            if (end_ == 0) return -1;
        }
        return buffer_[pos_++];
    }

    // The next six bits, skipping line ends and spaces; -1 at the closing
    // colon or the end of the file.
    int sextet(Grade grade) {
        for (;;) {
            const int c = character();
            if (c < 0 || c == ':') return -1;
            if (c == '\r' || c == '\n' || c == ' ' || c == '\t') continue;
            if (value_[c] < 0) throw Error(grade, "the BinHex text holds a character that BinHex does not write");
            return value_[c];
        }
    }

    int octet(Grade grade) {
        while (bits_ < 8) {
            const int s = sextet(grade);
            if (s < 0) return -1;
            accumulator_ = (accumulator_ << 6 | static_cast<uint32_t>(s)) & 0xFFFF;
            bits_ += 6;
        }
        bits_ -= 8;
        return static_cast<int>(accumulator_ >> bits_ & 0xFF);
    }

    std::shared_ptr<const Source> source_;
    uint64_t at_;
    uint8_t buffer_[65536];
    size_t pos_ = 0, end_ = 0;
    int value_[256];
    uint32_t accumulator_ = 0;
    int bits_ = 0;
    uint8_t last_ = 0;
    int repeat_ = 0;
};

class BinHex final : public OneMember {
public:
    explicit BinHex(std::shared_ptr<const Source> source) : source_(source) {
        std::vector<uint8_t> head(static_cast<size_t>(std::min<uint64_t>(kHead, source->size())));
        head.resize(source->read_at(0, head.data(), head.size()));
        const uint64_t start = find_start(*source, head.data(), head.size());
        if (start == 0) throw Error(Grade::kFatal, "not a BinHex 4.0 file");
        decoder_ = std::make_unique<Decoder>(source, start);
        read_header();
        const uint64_t most = kMostExpansion * source->size() + 65536;
        if (member_.data_length > most || member_.resource_length > most)
            throw Error(Grade::kFatal, "the BinHex header claims forks of " + std::to_string(member_.data_length) + " and " +
                                           std::to_string(member_.resource_length) + " bytes, more than its text can hold");
    }

    std::unique_ptr<Source> data() override {
        if (!decoded_) decoded_ = decode_forks();
        return range(decoded_, 0, member_.data_length);
    }
    std::unique_ptr<Source> resource() override {
        if (!decoded_) decoded_ = decode_forks();
        return range(decoded_, member_.data_length, member_.resource_length);
    }

private:
    void read_header() {
        std::vector<uint8_t> h(1);
        decoder_->read(h.data(), 1, Grade::kFatal);
        if (h[0] < 1 || h[0] > 63) throw Error(Grade::kFatal, "the BinHex header's name length is not 1 to 63");
        h.resize(1 + h[0] + 1 + 4 + 4 + 2 + 4 + 4 + 2);
        decoder_->read(h.data() + 1, h.size() - 1, Grade::kFatal);
        const uint8_t *p = h.data() + 1 + h[0] + 1;
        if (crc16(0, h.data(), h.size() - 2) != be16(h.data() + h.size() - 2))
            throw Error(Grade::kFatal, "the BinHex header's CRC does not match");
        member_.path.push_back(mactext::mac_roman_to_utf8(std::string_view(reinterpret_cast<const char *>(h.data() + 1), h[0])));
        member_.type.assign(reinterpret_cast<const char *>(p), 4);
        member_.creator.assign(reinterpret_cast<const char *>(p + 4), 4);
        member_.finder_flags = be16(p + 8);
        member_.data_length = be32(p + 10);
        member_.resource_length = be32(p + 14);
    }

    // Decodes the data fork into a scratch file, then the resource fork
    // after it, checking both CRCs.
    std::shared_ptr<const Source> decode_forks() {
        ScratchWriter out;
        uint8_t block[8192];
        uint16_t crc = 0;
        for (uint64_t left = member_.data_length; left > 0;) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(left, sizeof block));
            decoder_->read(block, n, Grade::kMember);
            crc = crc16(crc, block, n);
            out.write(block, n);
            left -= n;
        }
        check_crc(crc, "data fork");
        crc = 0;
        for (uint64_t left = member_.resource_length; left > 0;) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(left, sizeof block));
            decoder_->read(block, n, Grade::kMember);
            crc = crc16(crc, block, n);
            out.write(block, n);
            left -= n;
        }
        check_crc(crc, "resource fork");
        return out.finish();
    }

    void check_crc(uint16_t crc, const char *fork) {
        uint8_t stored[2];
        decoder_->read(stored, 2, Grade::kMember);
        if (crc != be16(stored)) throw Error(Grade::kMember, std::string("the BinHex ") + fork + "'s CRC does not match");
    }

    std::shared_ptr<const Source> source_;
    std::unique_ptr<Decoder> decoder_;
    std::shared_ptr<const Source> decoded_;
};

std::unique_ptr<Container> open(std::shared_ptr<const Source> source) { return std::make_unique<BinHex>(std::move(source)); }

}  // namespace

const Format &binhex_format() {
    static const Format format{"BinHex 4.0", bid, open};
    return format;
}

}  // namespace containers
