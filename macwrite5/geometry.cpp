#include "macwrite5/geometry.h"

#include "host/bytes.h"

namespace macwrite5 {

namespace {

using kavrel::be16s;

struct Rect {
    int32_t top, left, bottom, right;
};

Rect rect_at(const uint8_t *p) { return {be16s(p), be16s(p + 2), be16s(p + 4), be16s(p + 6)}; }

// Print record fields.
constexpr int kVerticalResolutionAt = 4, kHorizontalResolutionAt = 6, kPageRectAt = 8, kPaperRectAt = 16;
constexpr int32_t kMinResolution = 36, kMaxResolution = 1200;
constexpr int32_t kTwipsPerInch = 1440;
constexpr int32_t kLetterWidth = 12240, kLetterHeight = 15840;
constexpr int32_t kMinPaper = kTwipsPerInch, kMaxPaper = 48 * kTwipsPerInch;

int32_t twips(int32_t dots, int32_t resolution) { return dots * kTwipsPerInch / resolution; }

KavrelPage letter_around(int32_t width, int32_t height) {
    KavrelPage p{kLetterWidth, kLetterHeight, kTwipsPerInch, kTwipsPerInch, kTwipsPerInch, kTwipsPerInch, 1, 0, 0, 0, 0, 0};
    if (width <= 0 || height <= 0 || width > kLetterWidth || height > kLetterHeight) return p;
    p.left = p.right = (kLetterWidth - width) / 2;
    p.top = p.bottom = (kLetterHeight - height) / 2;
    p.right = kLetterWidth - width - p.left;
    p.bottom = kLetterHeight - height - p.top;
    return p;
}

}  // namespace

KavrelPage page_of_print_record(const uint8_t *record) {
    const int32_t vres = be16s(record + kVerticalResolutionAt), hres = be16s(record + kHorizontalResolutionAt);
    if (vres < kMinResolution || vres > kMaxResolution || hres < kMinResolution || hres > kMaxResolution)
        return letter_around(0, 0);
    const Rect page = rect_at(record + kPageRectAt), paper = rect_at(record + kPaperRectAt);
    const int32_t page_width = twips(page.right - page.left, hres), page_height = twips(page.bottom - page.top, vres);
    const int32_t width = twips(paper.right - paper.left, hres), height = twips(paper.bottom - paper.top, vres);
    const bool inside = paper.left <= page.left && paper.top <= page.top && paper.right >= page.right &&
                        paper.bottom >= page.bottom;
    if (!inside || width < kMinPaper || height < kMinPaper || width > kMaxPaper || height > kMaxPaper)
        return letter_around(page_width, page_height);
    return {width,
            height,
            twips(page.top - paper.top, vres),
            twips(page.left - paper.left, hres),
            twips(paper.bottom - page.bottom, vres),
            twips(paper.right - page.right, hres),
            1,
            0,
            0,
            0,
            0,
            0};
}

int32_t printable_width(const KavrelPage &page) { return page.width - page.left - page.right; }

namespace {

struct Lines {
    int32_t count = 0, total = 0;  // lines, and their heights in points
};

Lines lines_of(const std::vector<uint8_t> &codes) {
    Lines l;
    int32_t last = 0;
    for (const uint8_t b : codes) {
        if (b < 0x80) {
            last = b;
            ++l.count;
            l.total += b;
        } else if (l.count > 0 && (b & 0x7F) > 1) {
            const int32_t more = (b & 0x7F) - 1;
            l.count += more;
            l.total += more * last;
        }
    }
    return l;
}

// Reads the array's records in turn, each paragraph's codes to `record`,
// until the array ends or `record` says stop.
template <class Record>
void walk_line_records(std::FILE *in, long length, Record record) {
    std::vector<uint8_t> codes;
    while (length >= 2) {
        uint8_t head[2];
        if (std::fread(head, 1, 2, in) != 2) return;
        const long count = head[0] << 8 | head[1];
        const long padded = count + (count & 1);
        length -= 2;
        if (padded > length) return;
        codes.resize(static_cast<size_t>(padded));
        if (padded > 0 && std::fread(codes.data(), 1, codes.size(), in) != codes.size()) return;
        codes.resize(static_cast<size_t>(count));
        length -= padded;
        if (!record(codes)) return;
    }
}

}  // namespace

int32_t mean_line_height(const std::vector<uint8_t> &codes) {
    const Lines l = lines_of(codes);
    return l.count == 0 ? 0 : l.total * kTwipsPerPoint / l.count;
}

std::vector<uint8_t> expand_line_codes(const std::vector<uint8_t> &codes) {
    std::vector<uint8_t> lines;
    for (const uint8_t b : codes) {
        if (b < 0x80) lines.push_back(b);
        else if (!lines.empty() && (b & 0x7F) > 1) lines.insert(lines.end(), (b & 0x7F) - 1u, lines.back());
    }
    return lines;
}

std::vector<std::vector<uint8_t>> read_line_heights(std::FILE *in, long length, size_t paragraphs) {
    std::vector<std::vector<uint8_t>> heights;
    if (paragraphs > 0)
        walk_line_records(in, length, [&](const std::vector<uint8_t> &codes) {
            heights.push_back(expand_line_codes(codes));
            return heights.size() < paragraphs;
        });
    heights.resize(paragraphs);
    return heights;
}

bool has_several_lines(std::FILE *in, long length) {
    bool several = false;
    walk_line_records(in, length, [&](const std::vector<uint8_t> &codes) {
        several = lines_of(codes).count > 1;
        return !several;
    });
    return several;
}

}  // namespace macwrite5
