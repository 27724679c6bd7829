#include "tests/support/mw2disk_builder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "tests/support/mw2_builder.h"
#include "tests/support/pict_builder.h"

namespace testing_support {

namespace {

void be8(std::string &s, uint8_t v) { s += static_cast<char>(v); }

void be16(std::string &s, uint16_t v) {
    s += static_cast<char>(v >> 8);
    s += static_cast<char>(v & 0xFF);
}

void be32(std::string &s, uint32_t v) {
    be16(s, static_cast<uint16_t>(v >> 16));
    be16(s, static_cast<uint16_t>(v));
}

uint32_t fixed(double points) { return static_cast<uint32_t>(static_cast<int32_t>(std::lround(points * 65536))); }

void put16(std::string &s, size_t at, uint16_t v) {
    s[at] = static_cast<char>(v >> 8);
    s[at + 1] = static_cast<char>(v);
}

void put32(std::string &s, size_t at, uint32_t v) {
    put16(s, at, static_cast<uint16_t>(v >> 16));
    put16(s, at + 2, static_cast<uint16_t>(v));
}

// A directory frame: 76 bytes, the last saying whether the page ends.
std::string frame_record(const Mw2DiskBuilder::Frame &f, int file_block, bool last, int16_t columns, double gap) {
    std::string r(76, '\0');
    r[0] = 3;
    r[2] = static_cast<char>(static_cast<uint8_t>(f.role) << 6 | static_cast<uint8_t>(f.pages) << 4);
    put16(r, 26, static_cast<uint16_t>(file_block));
    const int16_t box[4] = {72, 72, 720, 540};
    for (int i = 0; i < 4; ++i) put16(r, 28 + 2 * i, static_cast<uint16_t>(box[i]));
    for (int i = 0; i < 4; ++i) put16(r, 36 + 2 * i, 0x8000);
    r[60] = static_cast<char>(columns);
    put32(r, 62, fixed(gap));
    r[75] = last ? 2 : 0;
    return r;
}

std::string page_header(int16_t number) {
    std::string h;
    be32(h, 0);
    be16(h, static_cast<uint16_t>(number));
    be8(h, 0xFF);
    be8(h, 0);
    be16(h, 0);
    be16(h, 1);
    return h;
}

std::string run_list(const std::vector<DiskRun> &runs) {
    std::string s;
    be16(s, 0);
    be16(s, static_cast<uint16_t>(runs.size() * 6));
    for (const DiskRun &r : runs) {
        be16(s, static_cast<uint16_t>(r.index));
        be32(s, r.length);
    }
    return s;
}

// The zone's chain: its text length, block list, runs, tokens and the
// records of its pictures (last picture first).
std::string zone_chain(const DiskZone &z, int first_text, const std::vector<int> &picture_blocks) {
    std::string c;
    be32(c, static_cast<uint32_t>(z.text.size()));
    std::string refs;
    int n = first_text;
    for (size_t at = 0; at < z.text.size(); at += z.chars_per_block) {
        be16(refs, static_cast<uint16_t>(n++));
        be16(refs, static_cast<uint16_t>(std::min(z.chars_per_block, z.text.size() - at)));
    }
    be32(c, static_cast<uint32_t>(refs.size()));
    c += refs;
    c += run_list(z.char_runs);
    c += run_list(z.para_runs);
    be16(c, 0);
    be16(c, static_cast<uint16_t>(z.tokens.size() * 8));
    uint32_t previous = 0;
    for (const DiskToken &t : z.tokens) {
        be8(c, t.kind);
        be8(c, 0);
        be16(c, static_cast<uint16_t>(t.at - previous));
        be32(c, 0);
        previous = t.at;
    }
    size_t picture = picture_blocks.size();
    for (auto t = z.tokens.rbegin(); t != z.tokens.rend(); ++t) {
        if (t->kind != 4) continue;
        std::string r;
        be16(r, 0);
        be16(r, static_cast<uint16_t>(picture_blocks[--picture]));
        be32(r, static_cast<uint32_t>(t->picture.size() + 4));
        for (int16_t v : {t->top, t->left, t->bottom, t->right}) be16(r, static_cast<uint16_t>(v));
        for (int16_t v : {t->top, t->left, t->bottom, t->right}) be16(r, static_cast<uint16_t>(v));
        r.resize(62, '\0');
        c += r;
    }
    return c;
}

}  // namespace

Mw2DiskBuilder::Mw2DiskBuilder() = default;

void Mw2DiskBuilder::font(int16_t id, const std::string &name) { fonts_.push_back({id, name}); }

int Mw2DiskBuilder::char_style(const DiskCharStyle &s) {
    std::string r;
    be16(r, 1);
    be16(r, static_cast<uint16_t>(s.font_id));
    be16(r, static_cast<uint16_t>(std::lround(s.points * 4)));
    be16(r, s.style);
    be8(r, s.colour);
    be8(r, 0x64);
    char_styles_.push_back(r);
    return static_cast<int>(char_styles_.size()) - 1;
}

int Mw2DiskBuilder::para_format(const DiskParaFormat &p) {
    std::string r;
    be16(r, 1);
    be16(r, p.justification);
    be16(r, 0);
    for (double v : {p.left, p.first, p.right, p.line, p.before, p.after}) be32(r, fixed(v));
    for (int32_t u : {p.line_unit, p.before_unit, p.after_unit}) be32(r, static_cast<uint32_t>(u));
    for (size_t i = 0; i < 20; ++i) {
        if (i < p.tabs.size()) {
            be8(r, p.tabs[i].kind);
            be8(r, p.tabs[i].leader);
            be32(r, fixed(p.tabs[i].points));
            be8(r, p.tabs[i].decimal);
            be8(r, 0);
        } else {
            be8(r, 0);
            be8(r, ' ');
            be32(r, 0xFFFFFFFF);
            be16(r, 0);
        }
    }
    para_formats_.push_back(r);
    return static_cast<int>(para_formats_.size()) - 1;
}

int Mw2DiskBuilder::zone(const DiskZone &z) {
    zones_.push_back(z);
    return static_cast<int>(zones_.size()) - 1;
}

void Mw2DiskBuilder::page(double height, double width, double top, double bottom, double left, double right) {
    const double v[6] = {height, width, top, bottom, left, right};
    std::copy(v, v + 6, page_);
}

std::string Mw2DiskBuilder::build() const {
    const ChainLinks links = block_runs_ ? ChainLinks::BlockRuns : ChainLinks::Forward;
    BlockFile layout(4);
    std::vector<int> zone_blocks;
    for (const DiskZone &z : zones_) {
        const int first_text = layout.next_free();
        for (size_t at = 0; at < z.text.size(); at += z.chars_per_block) layout.raw(z.text.substr(at, z.chars_per_block));
        std::vector<int> pictures;
        for (const DiskToken &t : z.tokens) {
            if (t.kind != 4) continue;
            std::string data;
            be32(data, static_cast<uint32_t>(t.picture.size()));
            pictures.push_back(layout.chain(data + t.picture, links));
        }
        zone_blocks.push_back(layout.chain(zone_chain(z, first_text, pictures), links));
    }
    auto block_of = [&](int zone) { return zone >= 0 ? zone_blocks[static_cast<size_t>(zone)] : 0; };

    std::string chain;
    std::string names;
    be16(names, static_cast<uint16_t>(fonts_.size()));
    for (const auto &[id, name] : fonts_) {
        be16(names, static_cast<uint16_t>(id));
        be8(names, static_cast<uint8_t>(name.size()));
        names += name;
        be8(names, 0);
    }
    be32(chain, static_cast<uint32_t>(names.size()));
    chain += names;
    be32(chain, 0);
    be16(chain, 0);   // no named styles
    be32(chain, static_cast<uint32_t>(char_styles_.size() * 10));
    for (const std::string &r : char_styles_) chain += r;
    be32(chain, static_cast<uint32_t>(para_formats_.size() * 202));
    for (const std::string &r : para_formats_) chain += r;
    // Pages 0 and 1 hold the header and footer frames after a frame of
    // their own; page 2 shows the main text, then the notes.
    const Frame placeholder{-1, DiskRole::Body, DiskPages::All};
    for (int p = 0; p < 3; ++p) {
        std::vector<Frame> frames;
        frames.push_back(p == 2 ? Frame{main_, DiskRole::Body, DiskPages::All} : placeholder);
        const DiskRole role = p == 0 ? DiskRole::Header : p == 1 ? DiskRole::Footer : DiskRole::Note;
        for (const Frame &f : frames_)
            if (f.role == role) frames.push_back(f);
        chain += page_header(static_cast<int16_t>(p == 2 ? 1 : 0));
        for (size_t i = 0; i < frames.size(); ++i)
            chain += frame_record(frames[i], block_of(frames[i].zone), i + 1 == frames.size(), p == 2 ? columns_ : 1,
                                  column_gap_);
    }
    layout.chain(chain, links, 3);

    std::string bytes = layout.bytes();
    if (bytes.size() < 0x300) bytes.resize(0x300, '\0');
    std::string head(512, '\0');
    head[1] = '.';
    head[3] = '.';
    // The print record: 72 dpi, Letter paper around the printable page.
    put16(head, 4, 3);
    put16(head, 8, 72);
    put16(head, 10, 72);
    const int16_t page_rect[4] = {0, 0, 734, 576}, paper_rect[4] = {-18, -18, 774, 594};
    for (int i = 0; i < 4; ++i) put16(head, 12 + 2 * i, static_cast<uint16_t>(page_rect[i]));
    for (int i = 0; i < 4; ++i) put16(head, 20 + 2 * i, static_cast<uint16_t>(paper_rect[i]));
    head[0x7E] = static_cast<char>(0x02 | (title_page_ ? 0x04 : 0));
    head[0x7F] = static_cast<char>(0x80);
    put16(head, 0x87, 0x0612);
    head[0x89] = 1;
    put16(head, 0x8A, 2);
    put16(head, 0x8C, 0x012C);
    put16(head, 0x94, 1);
    for (int i = 0; i < 6; ++i) put32(head, 0x96 + 4 * static_cast<size_t>(i), fixed(page_[i]));
    put16(head, 0xAE, static_cast<uint16_t>(columns_));
    put32(head, 0xB0, fixed(column_gap_));
    std::memcpy(bytes.data(), head.data(), head.size());
    return bytes;
}

namespace {

DiskZone zone_of(const std::string &text, std::vector<DiskRun> chars, std::vector<DiskRun> paras) {
    DiskZone z;
    z.text = text;
    z.char_runs = std::move(chars);
    z.para_runs = std::move(paras);
    return z;
}

// Tokens at every byte of the text that stands for one.
void add_tokens(DiskZone &z) {
    for (uint32_t i = 0; i < z.text.size(); ++i) {
        const auto b = static_cast<uint8_t>(z.text[i]);
        if (b == 2 || b == 3 || b == 4 || b == 5 || b == 0x17 || b == 0x1A) z.tokens.push_back({b, i, {}});
    }
}

}  // namespace

Mw2DiskBuilder full_disk_document() {
    Mw2DiskBuilder doc;
    doc.font(20, "Times");
    doc.font(21, "Helvetica");
    doc.font(22, "Courier");
    doc.font(1234, "Gill Sans");
    const int plain = doc.char_style({20, 12, 0, 1});
    const int bold_red = doc.char_style({21, 14, 0x0001, 2});
    const int italic_blue = doc.char_style({1234, 10, 0x0002, 4});
    const int under_green = doc.char_style({22, 9, 0x0004, 3});
    const int small_caps = doc.char_style({20, 18, 0x0800 | 0x0200, 6});
    const int body = doc.para_format({0, 36, 18, 54, 0, 6, 12, 0, 0, 0, {}});
    DiskParaFormat tabs{0x40 | 1, 0, 0, 0, 0.5, 0, 0, -1, 0, 0, {}};
    tabs.tabs = {{0, ' ', 72, '.'}, {1, '.', 144, '.'}, {2, '-', 216, '.'}, {3, ' ', 288, ','}};
    const int centred = doc.para_format(tabs);
    const int right = doc.para_format({2, 0, 0, 0, 1, 0, 0, -1, 0, 0, {}});
    const int justified = doc.para_format({3, 72, -36, 0, 0, 0, 0, 0, 0, 0, {}});

    // The main text: paragraphs of every format, styles changing inside
    // them, a line break, an optional hyphen, a column break, fields, two
    // note calls and a picture.
    std::string text;
    std::vector<DiskRun> chars, paras;
    auto add = [&](const std::string &s, int style) {
        text += s;
        chars.push_back({static_cast<int16_t>(style), static_cast<uint32_t>(s.size())});
    };
    auto paragraph = [&](size_t from, int format) {
        uint32_t before = 0;
        for (const DiskRun &r : paras) before += r.length;
        paras.push_back({static_cast<int16_t>(format), static_cast<uint32_t>(from - before)});
    };
    add("Plain start, ", plain);
    add("bold red", bold_red);
    add(" and ", plain);
    add("italic blue", italic_blue);
    add(".\x07Second line with an opt\x1Fional hyphen\x05.\r", plain);
    paragraph(text.size(), body);
    add("Centred\tleft\tcentre\tright\t3,25\r", plain);
    paragraph(text.size(), centred);
    add("Right aligned ", plain);
    add("underlined green", under_green);
    add(" page \x02 on \x17 at \x1A.\r", plain);
    paragraph(text.size(), right);
    add("Justified with a hanging indent and ", plain);
    add("small caps", small_caps);
    add("\x05 then a picture \x04.\x0B", plain);
    add("After the column break.\r", plain);
    paragraph(text.size(), justified);
    DiskZone main = zone_of(text, chars, paras);
    main.chars_per_block = 37;
    add_tokens(main);
    for (DiskToken &t : main.tokens)
        if (t.kind == 4) {
            t.picture = PictBuilder(1, 0, 0, 40, 60).rect_op(0x31, 5, 5, 35, 55).build();
            t.bottom = 40;
            t.right = 60;
        }
    doc.main(doc.zone(main));

    DiskZone left_header = zone_of("Left header\r", {{static_cast<int16_t>(plain), 12}}, {{static_cast<int16_t>(body), 12}});
    DiskZone right_header = zone_of("Right header \x02\r", {{static_cast<int16_t>(bold_red), 15}},
                                    {{static_cast<int16_t>(right), 15}});
    add_tokens(right_header);
    DiskZone footer = zone_of("Footer on \x17\r", {{static_cast<int16_t>(plain), 12}}, {{static_cast<int16_t>(centred), 12}});
    add_tokens(footer);
    doc.header(doc.zone(left_header), DiskPages::Left);
    doc.header(doc.zone(right_header), DiskPages::Right);
    doc.footer(doc.zone(footer));
    for (const char *t : {"\x03 First note text.\r", "\x03 Second note, italic.\r"}) {
        const std::string s = t;
        DiskZone note = zone_of(s, {{static_cast<int16_t>(plain), 2}, {static_cast<int16_t>(italic_blue), static_cast<uint32_t>(s.size() - 2)}},
                                {{static_cast<int16_t>(body), static_cast<uint32_t>(s.size())}});
        add_tokens(note);
        doc.note(doc.zone(note));
    }
    doc.page(792, 612, 54, 72, 90, 60);
    doc.title_page(true);
    doc.columns(2, 18);
    return doc;
}

Mw2DiskBuilder long_disk_document() {
    Mw2DiskBuilder doc;
    doc.font(20, "Times");
    const int plain = doc.char_style({20, 12, 0, 1});
    const int body = doc.para_format({0, 36, 18, 54, 0, 6, 12, 0, 0, 0, {}});
    const int hanging = doc.para_format({3, 72, -36, 0, 0.5, 0, 0, -1, 0, 0, {}});
    DiskZone main;
    for (int i = 0; i < 60; ++i) {
        const std::string p = "Paragraph " + std::to_string(i) +
                              ": the quick brown fox jumps over the lazy dog, and the lazy dog sleeps on while the fox "
                              "runs across the field towards the woods at the edge of the farm.\r";
        main.text += p;
        main.para_runs.push_back({static_cast<int16_t>(i % 2 ? hanging : body), static_cast<uint32_t>(p.size())});
    }
    main.char_runs = {{static_cast<int16_t>(plain), static_cast<uint32_t>(main.text.size())}};
    doc.main(doc.zone(main));
    doc.header(doc.zone(zone_of("Header line\r", {{static_cast<int16_t>(plain), 12}}, {{static_cast<int16_t>(body), 12}})));
    doc.page(792, 612, 54, 72, 108, 90);
    return doc;
}

}  // namespace testing_support
