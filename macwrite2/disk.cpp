// The on-disk layout's first block and document chain: page setup, font
// names, character and paragraph records and the directory of frames.
#include "macwrite2/disk.h"

#include <cmath>
#include <cstring>

#include "host/bytes.h"
#include "macwrite5/geometry.h"
#include "mactext/fonts.h"

namespace macwrite2::disk {

namespace {

using kavrel::be16;
using kavrel::be16s;
using kavrel::be32;

constexpr double kTwipsPerPoint = 20;
constexpr int32_t kLineTwips = 240;        // a line of 12-point text, for spacing given in lines
constexpr uint32_t kNoMoreTabs = 0xFFFFFFFF;
constexpr uint16_t kNoValue = 0xFFFF;

// A 16.16 fixed-point number of points, in twips.
int32_t twips(uint32_t fixed) {
    const double t = static_cast<int32_t>(fixed) / 65536.0 * kTwipsPerPoint;
    return static_cast<int32_t>(std::lround(t < -32768 ? -32768 : (t > 32767 ? 32767 : t)));
}

const uint8_t *bytes_of(const std::string &s) { return reinterpret_cast<const uint8_t *>(s.data()); }

// A list that begins with its 32-bit byte length; false when the chain ends
// before the list does.
bool take_sized(Cursor &chain, std::string &list) {
    int32_t size = 0;
    if (!chain.read_be32(size) || size < 0) return false;
    list = chain.take(size);
    return list.size() == static_cast<size_t>(size);
}

// Pascal strings of up to 255 bytes, as the font table keeps its names.
bool pascal(const std::string &table, size_t &at, std::string &out) {
    if (at >= table.size()) return false;
    const size_t n = static_cast<uint8_t>(table[at++]);
    if (at + n > table.size()) return false;
    out = table.substr(at, n);
    at += n;
    return true;
}

// The font-name table: a count, then per font its id and two names, the
// first being the family's.
bool read_font_names(Cursor &chain, Document &doc) {
    std::string table;
    if (!take_sized(chain, table)) return false;
    if (table.empty()) return true;
    if (table.size() < 2) return false;
    const size_t count = be16(bytes_of(table));
    if (3 * count + 2 > table.size()) return false;
    size_t at = 2;
    for (size_t i = 0; i < count; ++i) {
        if (at + 2 > table.size()) return false;
        const int id = be16s(bytes_of(table) + at);
        at += 2;
        std::string family, other;
        if (!pascal(table, at, family) || !pascal(table, at, other)) return false;
        if (!family.empty()) doc.font_names[id] = family;
    }
    return true;
}

// The stream's number for a document font: the Mac's own number of a family
// it names, the document's id otherwise (its name then comes with it).
int font_number(const Document &doc, int id) {
    const auto named = doc.font_names.find(id);
    if (named == doc.font_names.end()) return id;
    const mactext::FontFace *face = mactext::font_named(named->second);
    return face != nullptr ? face->number : id;
}

CharFormat char_format(const Document &doc, const uint8_t *r) {
    CharFormat c;
    const uint16_t font = be16(r + 2), size = be16(r + 4);
    c.font = font == kNoValue ? 0 : font_number(doc, static_cast<int16_t>(font));
    if (c.font < 0 || c.font > 0x7FFF) c.font = 0;
    c.size = size == kNoValue ? 12 : static_cast<int32_t>(std::lround(size / 4.0));
    c.style = be16(r + 6);
    c.colour = r[8];
    return c;
}

// Line spacing, space before and after, each with its unit: 0 points, -1
// lines (spacing: that many lines more than one).
void read_spacing(const uint8_t *r, ParaRecord &p) {
    const auto value = [&](int i) { return static_cast<int32_t>(be32(r + 18 + 4 * i)); };
    const auto unit = [&](int i) { return static_cast<int32_t>(be32(r + 30 + 4 * i)); };
    const double lines = value(0) / 65536.0;
    if (unit(0) == -1) {
        const long eighths = std::lround((lines + 1) * 8);
        p.interline = static_cast<int32_t>(eighths < 8 ? 8 : (eighths > 255 ? 255 : eighths));
    } else if (value(0) > 0) {
        p.line = twips(static_cast<uint32_t>(value(0)));
    }
    for (int i = 1; i <= 2; ++i) {
        int32_t t = unit(i) == -1 ? static_cast<int32_t>(std::lround(value(i) / 65536.0 * kLineTwips))
                                  : twips(static_cast<uint32_t>(value(i)));
        if (t < 0) t = 0;
        (i == 1 ? p.before : p.after) = t;
    }
}

ParaRecord para_record(const uint8_t *r) {
    ParaRecord p;
    p.justification = be16(r + 2);
    p.left = twips(be32(r + 6));
    p.first = twips(be32(r + 10));
    p.right = twips(be32(r + 14));
    read_spacing(r, p);
    for (int i = 0; i < kTabCount; ++i) {
        const uint8_t *t = r + 42 + kTabSize * i;
        if (be32(t + 2) == kNoMoreTabs) break;
        p.tabs.push_back({static_cast<uint8_t>(t[0] & 3), twips(be32(t + 2))});
    }
    return p;
}

// Records of a fixed size after a 32-bit byte length that must be a
// multiple of it.
template <typename Record>
bool read_records(Cursor &chain, int size, Record &&each) {
    std::string list;
    if (!take_sized(chain, list) || list.size() % static_cast<size_t>(size) != 0) return false;
    for (size_t at = 0; at < list.size(); at += static_cast<size_t>(size)) each(bytes_of(list) + at);
    return true;
}

enum class FrameRead { Read, PageEnds, Lost };

// A frame record: 76 bytes, 12 more for a frame of kind -3, 3 more when
// byte 74 is set; its last byte says whether the page's frames go on (0,
// 1) or end (2).  A record whose kind or box does not hold ends the page;
// one that the chain cuts short, or whose kind, box or second half is
// zeros, is a record lost.
FrameRead read_frame(Cursor &chain, bool first, Frame &frame, bool &last) {
    const size_t at = chain.position();
    uint8_t r[kFrameSize];
    if (chain.read(r, sizeof r) != sizeof r) return FrameRead::Lost;
    const auto kind = static_cast<int8_t>(r[0]);
    const int16_t top = be16s(r + 28), left = be16s(r + 30), bottom = be16s(r + 32), right = be16s(r + 34);
    if ((kind != 3 && kind != -3) || top > bottom || left > right || (bottom <= 0 && right <= 0)) {
        chain.seek(at);
        bool zeros = true;
        for (int i = 32; i < kFrameSize; ++i) zeros = zeros && r[i] == 0;
        zeros = zeros || kind == 0 || (top == 0 && left == 0 && bottom == 0 && right == 0);
        return zeros ? FrameRead::Lost : FrameRead::PageEnds;
    }
    size_t size = kFrameSize + (kind == -3 ? 12 : 0) + (r[74] != 0 ? 3 : 0);
    chain.seek(at + size - 1);
    uint8_t flag = 0;
    if (chain.read(&flag, 1) != 1) return FrameRead::Lost;
    last = flag >= 2;
    frame = Frame{};
    if (!first) {
        frame.role = static_cast<Role>(r[2] >> 6);
        frame.pages = static_cast<uint8_t>(r[2] >> 4 & 3);
    }
    // A frame that marks where a page breaks names a page, not a zone.
    const bool page_break = (r[44] | r[45] | r[46]) != 0;
    frame.first_block = page_break ? 0 : be16(r + 26);
    return FrameRead::Read;
}

// A page's frames; `lost` when the page is cut short.
bool read_page(Cursor &chain, std::vector<Frame> &frames, bool &lost) {
    if (chain.take(kPageHeaderSize).size() != kPageHeaderSize) {
        lost = true;
        return false;
    }
    for (bool last = false; !last;) {
        Frame f;
        const FrameRead read = read_frame(chain, frames.empty(), f, last);
        lost = read == FrameRead::Lost;
        if (read != FrameRead::Read) break;
        frames.push_back(f);
    }
    return !frames.empty();
}

}  // namespace

bool has_signature(const uint8_t *doc, size_t length) {
    return length >= sizeof kSignature && std::memcmp(doc, kSignature, sizeof kSignature) == 0;
}

bool read_document_chain(Cursor &chain, Document &doc) {
    int16_t named_styles = 0;
    if (!read_font_names(chain, doc)) return false;
    chain.skip(4);
    if (!chain.read_be16(named_styles) || named_styles < 0) return false;
    if (chain.take(int64_t{kNamedStyleSize} * named_styles).size() != static_cast<size_t>(kNamedStyleSize * named_styles))
        return false;
    if (!read_records(chain, kCharRecordSize, [&](const uint8_t *r) { doc.chars.push_back(char_format(doc, r)); }) ||
        !read_records(chain, kParaRecordSize, [&](const uint8_t *r) { doc.paras.push_back(para_record(r)); }))
        return false;
    // Pages 0 and 1 (left and right master pages), then one a page.
    const size_t pages = 2 + static_cast<size_t>(doc.page_count);
    bool lost = false;
    while (doc.pages.size() < pages && !lost) {
        std::vector<Frame> frames;
        if (!read_page(chain, frames, lost)) break;
        doc.pages.push_back(std::move(frames));
    }
    doc.directory_cut = lost || doc.pages.size() < pages;
    return !doc.pages.empty();
}

void read_page_setup(const uint8_t *head, Document &doc) {
    int32_t dim[6];
    bool sound = true;
    for (int i = 0; i < 6; ++i) {
        dim[i] = twips(be32(head + kDimensionsAt + 4 * i));
        sound = sound && dim[i] >= 0;
    }
    sound = sound && dim[0] > dim[2] + dim[3] && dim[1] > dim[4] + dim[5];
    doc.page = sound ? KavrelPage{dim[1], dim[0], dim[2], dim[4], dim[3], dim[5], 1, 0, 0, 0, 0, 0}
                     : macwrite5::page_of_print_record(head + 4);
    doc.page.title_page = (head[kFlagsAt] & kTitlePageFlag) != 0;
    const int16_t columns = be16s(head + kColumnsAt);
    doc.columns = columns >= 1 && columns <= 10 ? columns : 1;
    doc.column_gap = doc.columns > 1 ? twips(be32(head + kColumnGapAt)) : 0;
    const int16_t count = be16s(head + kPageCountAt);
    doc.page_count = count >= 1 && count <= 4096 ? count : 1;
}

}  // namespace macwrite2::disk
