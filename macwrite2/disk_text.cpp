// The on-disk layout's text zones, written to the stream: the header and
// the footer, then the main text with each note at its call.
#include <algorithm>
#include <cstring>

#include "catalogue/catalogue.h"
#include "host/bytes.h"
#include "host/stream_codes.h"
#include "host/stream_writer.h"
#include "macwrite2/disk.h"
#include "mactext/fonts.h"

namespace macwrite2::disk {

namespace {

using kavrel::be16;
using kavrel::be16s;
using kavrel::be32;
using kavrel::stream::put_char;
using kavrel::stream::put_control;
using kavrel::stream::put_tag;
namespace code = kavrel::code;

constexpr int kTwipsPerColumn = 144;   // tab columns are tenths of an inch
constexpr uint16_t kSoftHyphen = 0x00AD;

// Bytes of the text that stand for something else.
enum : uint8_t {
    kPageNumberMark = 2, kNoteTextMark = 3, kPictureMark = 4, kNoteCallMark = 5, kLineBreak = 7,
    kColumnBreakByte = 0x0B, kSectionBreak = 0x0E, kDateMark = 0x15, kLongDateMark = 0x17, kTimeMark = 0x1A,
    kOptionalHyphen = 0x1F
};

struct Run {
    uint32_t start;
    int16_t index;
};

struct Token {
    uint8_t kind;
    uint32_t at;
    int picture_block = 0;
    int16_t rect[4] = {};
};

struct Zone {
    std::string text;
    std::vector<Run> chars, paras;
    std::vector<Token> tokens;
    bool cut = false;   // the chain ends before a list does
};

const uint8_t *bytes_of(const std::string &s) { return reinterpret_cast<const uint8_t *>(s.data()); }

// A run list: a word not read, the list's 16-bit byte length, then entries
// of a format index and a character count.  Runs of no characters change
// nothing.
std::vector<Run> read_runs(Cursor &chain, bool &cut) {
    std::vector<Run> runs;
    int16_t unused = 0, size = 0;
    if (!chain.read_be16(unused) || !chain.read_be16(size) || size <= 0) return runs;
    const std::string list = chain.take(static_cast<uint16_t>(size));
    cut = cut || list.size() < static_cast<size_t>(size);
    uint32_t start = 0;
    for (size_t at = 0; at + kRunSize <= list.size(); at += kRunSize) {
        const uint32_t length = be32(bytes_of(list) + at + 2);
        if (length != 0) runs.push_back({start, be16s(bytes_of(list) + at)});
        start += length;
    }
    return runs;
}

// Tokens: a word that must be 0, the list's byte length, then entries of a
// kind, a flag, the characters since the previous token and an id.  The
// records of the zone's pictures follow, the last picture's first.
void read_tokens(Cursor &chain, Zone &z) {
    int16_t flag = 0, size = 0;
    if (!chain.read_be16(flag) || flag != 0 || !chain.read_be16(size) || size <= 0) return;
    const std::string list = chain.take(static_cast<uint16_t>(size));
    z.cut = z.cut || list.size() < static_cast<size_t>(size);
    uint32_t at = 0;
    for (size_t i = 0; i + kTokenSize <= list.size(); i += kTokenSize) {
        at += be16(bytes_of(list) + i + 2);
        z.tokens.push_back({bytes_of(list)[i], at});
    }
    for (auto t = z.tokens.rbegin(); t != z.tokens.rend(); ++t) {
        if (t->kind != kPictureMark) continue;
        const std::string r = chain.take(kPictureRecordSize);
        if (r.size() != kPictureRecordSize) {
            z.cut = true;
            return;
        }
        t->picture_block = be16(bytes_of(r) + 2);
        for (int k = 0; k < 4; ++k) t->rect[k] = be16s(bytes_of(r) + 8 + 2 * k);
    }
}

// The characters of one block reference: at most a block's worth.  A block
// outside the file has none, one that the file's end cuts gives what it
// holds, and zeros where text stands (text holds none) are a lost block
// whose zeros write nothing; each is counted.
void append_block(ImportContext &ctx, uint16_t block, uint16_t count, std::string &text) {
    if (block == 0 || count == 0) return;
    const long at = (static_cast<long>(block) - 1) * kBlockSize + ctx.mac_binary_offset;
    if (at >= ctx.file_length || std::fseek(ctx.in, at, SEEK_SET) != 0) {
        ++ctx.damage.lost_blocks;
        return;
    }
    ctx.use_block(block);
    char bytes[kBlockSize];
    const size_t want = std::min<size_t>(count, kBlockSize);
    const size_t got = std::fread(bytes, 1, want, ctx.in);
    if (got < want) ++ctx.damage.lost_blocks;
    if (std::memchr(bytes, 0, got) != nullptr) ++ctx.damage.zeroed_blocks;
    if (ctx.spend(static_cast<long long>(got))) text.append(bytes, got);
}

// A zone's chain: its text length, its block list, whose counts add up to
// at least that length, then the runs and tokens.  A chain whose first
// block is zeros, or a list that falls short of the length, is a zone that
// lost its list: the text blocks it named are left to the search.
Zone read_zone(ImportContext &ctx, int first_block) {
    ++ctx.damage.areas;
    Zone z;
    if (block_of_zeros(ctx, first_block)) {
        ctx.use_block(first_block);
        ++ctx.damage.lost_zones;
        return z;
    }
    Cursor chain(copy_block_chain(ctx, first_block));
    int32_t length = 0, size = 0;
    if (!chain.read_be32(length) || !chain.read_be32(size)) return z;
    if (size < 0 || length < 0) {
        ++ctx.damage.lost_zones;
        return z;
    }
    const std::string refs = chain.take(size);
    int64_t listed = 0;
    for (size_t at = 0; at + 4 <= refs.size() && !ctx.overdrawn(); at += 4) {
        const uint16_t block = be16(bytes_of(refs) + at), count = be16(bytes_of(refs) + at + 2);
        if (block != 0) listed += std::min<int64_t>(count, kBlockSize);
        append_block(ctx, block, count, z.text);
    }
    if (listed < length) ++ctx.damage.lost_zones;
    // The zone's length bounds its text: blocks past it hold nothing of it.
    if (static_cast<size_t>(length) < z.text.size()) z.text.resize(static_cast<size_t>(length));
    z.chars = read_runs(chain, z.cut);
    z.paras = read_runs(chain, z.cut);
    read_tokens(chain, z);
    if (z.cut) ++ctx.damage.cut_lists;
    return z;
}

// Marks the blocks of a zone that is not written (a header for the other
// pages) as the document's, so that the search after damage does not take
// them for lost text.
void claim_zone(ImportContext &ctx, int first_block) {
    if (ctx.block_used(first_block)) return;
    Cursor chain(read_block_chain(ctx, first_block, true).data);
    int32_t length = 0, size = 0;
    if (!chain.read_be32(length) || !chain.read_be32(size) || size < 0) return;
    const std::string refs = chain.take(size);
    for (size_t at = 0; at + 4 <= refs.size(); at += 4) ctx.use_block(be16(bytes_of(refs) + at));
}

class Writer {
public:
    Writer(ImportContext &ctx, const Document &doc) : ctx_(ctx), doc_(doc) {}

    void zone(const Zone &z, bool main) {
        size_t next_char = 0, next_para = 0, next_token = 0;
        for (uint32_t i = 0; i < z.text.size(); ++i) {
            if (next_char < z.chars.size() && z.chars[next_char].start == i) set_char(z.chars[next_char++].index);
            if (next_para < z.paras.size() && z.paras[next_para].start == i) set_para(z.paras[next_para++].index);
            while (next_token < z.tokens.size() && z.tokens[next_token].at < i) ++next_token;
            const Token *token = next_token < z.tokens.size() && z.tokens[next_token].at == i ? &z.tokens[next_token] : nullptr;
            // Text holds no zeros: a run of them is text lost, which parts
            // the words on either side with a space rather than joining them.
            const bool lost = z.text[i] == 0 && i > 0 && z.text[i - 1] != 0;
            byte(static_cast<uint8_t>(lost ? ' ' : z.text[i]), token, main);
            if (ctx_.overdrawn()) return;
        }
    }

    void set_notes(std::vector<Zone> notes) { notes_ = std::move(notes); }

    // Notes that no call of the main text took (their calls were lost with
    // it), each as a note at the end of what was read.
    void uncalled_notes() {
        while (static_cast<size_t>(calls_) < notes_.size() && !ctx_.overdrawn()) note_call();
    }

private:
    void set_char(int16_t index) {
        char_index_ = index;
        static const CharFormat kPlain{};
        const CharFormat &c = index >= 0 && static_cast<size_t>(index) < doc_.chars.size() ? doc_.chars[static_cast<size_t>(index)] : kPlain;
        CharAttributes e{};
        place_style_word(e, c.style);
        raz_attributs(&ctx_.ca, ctx_.out);
        pose_corps(&ctx_.ca, c.size, ctx_.out);
        ctx_.table = traite_polices_mac(&ctx_.ca, c.font, ctx_.table, ctx_.out);
        ctx_.ca.size = c.size;
        ctx_.ca.changed = e.changed;
        ctx_.ca.style = e.style;
        ctx_.ca.style_extra = static_cast<uint8_t>((ctx_.ca.style_extra & 0xE0) | (e.style_extra & 0x1F));
        pose_attributs(&ctx_.ca, ctx_.out);
        set_colour(c.colour);
    }

    // The document's colours are 0 white and 1 black, the stream's the other
    // way round; the rest agree.
    void set_colour(uint8_t stored) {
        const uint8_t colour = stored == 0 ? code::kColourWhite : stored == 1 ? code::kColourBlack : stored;
        if (colour > code::kColourYellow || colour == colour_) return;
        put_tag(ctx_.out, code::kTextColour, 0, colour);
        colour_ = colour;
    }

    void set_para(int16_t index) {
        para_index_ = index;
        static const ParaRecord kPlain{};
        const ParaRecord &p = index >= 0 && static_cast<size_t>(index) < doc_.paras.size() ? doc_.paras[static_cast<size_t>(index)] : kPlain;
        raz_formats(&ctx_.pf, ctx_.out);
        ctx_.pf.centred = (p.justification & 3) == 1;
        ctx_.pf.right_aligned = (p.justification & 3) == 2;
        ctx_.pf.justified = (p.justification & 3) == 3;
        ctx_.pf.interline = p.interline;
        pose_formats(&ctx_.pf, ctx_.out);
        change_geometry(&ctx_.pf, KAVREL_GEOMETRY_LEFT, p.left, ctx_.out);
        change_geometry(&ctx_.pf, KAVREL_GEOMETRY_RIGHT, p.right, ctx_.out);
        change_geometry(&ctx_.pf, KAVREL_GEOMETRY_FIRST, p.first, ctx_.out);
        change_geometry(&ctx_.pf, KAVREL_GEOMETRY_BEFORE, p.before, ctx_.out);
        change_geometry(&ctx_.pf, KAVREL_GEOMETRY_AFTER, p.after, ctx_.out);
        change_geometry(&ctx_.pf, KAVREL_GEOMETRY_LINE, p.line, ctx_.out);
        set_tabs(p.tabs);
    }

    void set_tabs(const std::vector<Tab> &tabs) {
        armement_regle(&ctx_.tc);
        for (const Tab &t : tabs) {
            const int32_t column = (t.position + kTwipsPerColumn / 2) / kTwipsPerColumn;
            if (column < 1 || column > 255) continue;
            static constexpr int32_t kKinds[4] = {KAVREL_TAB_ORDINARY, KAVREL_TAB_CENTRED, KAVREL_TAB_RIGHT, KAVREL_TAB_DECIMAL};
            const int32_t kind = kKinds[t.kind & 3];
            int32_t &entry = ctx_.tc.kind[column];
            entry &= ~KAVREL_TAB_MARK;
            if (entry == kind) continue;
            if (entry != 0) put_tag(ctx_.out, code::kTabClear, static_cast<uint8_t>(entry), static_cast<uint8_t>(column));
            put_tag(ctx_.out, code::kTabSet, static_cast<uint8_t>(kind), static_cast<uint8_t>(column));
            entry = kind;
        }
        nettoyage_regle(ctx_.out, &ctx_.tc);
    }

    void token(const Token &t, bool main) {
        switch (t.kind) {
        case kPageNumberMark: put_tag(ctx_.out, code::kField, code::kFieldPageNumber); return;
        case kDateMark:
        case kLongDateMark: put_tag(ctx_.out, code::kField, code::kFieldDate); return;
        case kTimeMark: put_tag(ctx_.out, code::kField, code::kFieldTime); return;
        case kPictureMark: picture(t); return;
        case kNoteCallMark:
            if (main) note_call();
            return;
        default: return;
        }
    }

    // The n-th call of the main text takes the n-th note frame's text; the
    // main text's styles are said again after it.
    void note_call() {
        ++calls_;
        const int16_t c = char_index_, p = para_index_;
        put_tag(ctx_.out, code::kNoteCall, 0, static_cast<uint8_t>(calls_));
        if (static_cast<size_t>(calls_) <= notes_.size()) zone(notes_[static_cast<size_t>(calls_ - 1)], false);
        put_tag(ctx_.out, code::kBlockEnd);
        set_char(c);
        set_para(p);
    }

    // A picture whose record or chain is lost, or whose chain holds less
    // than its size, is counted; what there is of it is still inserted.
    void picture(const Token &t) {
        const bool zeros = t.picture_block == 0 || block_of_zeros(ctx_, t.picture_block);
        const ChainBytes chain = zeros ? ChainBytes{} : read_block_chain(ctx_, t.picture_block, true);
        const std::string &data = chain.data;
        const uint32_t size = data.size() < 4 ? 0 : be32(bytes_of(data));
        if (!chain.ended || size == 0 || size > data.size() - 4) ++ctx_.damage.lost_pictures;
        if (data.size() < 4) return;
        std::string body;
        for (int16_t v : t.rect) {
            body += static_cast<char>(static_cast<uint16_t>(v) >> 8);
            body += static_cast<char>(v & 0xFF);
        }
        body += data.substr(4, size);
        kavrel::stream::put_insert(ctx_.out, code::kPictureInsert, bytes_of(body), body.size());
    }

    void byte(uint8_t b, const Token *t, bool main) {
        if (t != nullptr) token(*t, main);
        switch (b) {
        case 0:
        case kPageNumberMark:
        case kNoteTextMark:
        case kPictureMark:
        case kNoteCallMark:
        case kDateMark:
        case kLongDateMark:
        case kTimeMark:
        case kSectionBreak: return;
        case kLineBreak: put_tag(ctx_.out, code::kLineBreak); return;
        case code::kLineEnd: put_control(ctx_.out, code::kLineEnd); return;
        case code::kTab:
        case code::kPageBreak:
        case code::kParagraphEnd: put_control(ctx_.out, b); return;
        case kColumnBreakByte:
            if (doc_.columns > 1) put_tag(ctx_.out, code::kColumnBreak);
            else put_control(ctx_.out, code::kPageBreak);
            return;
        case kOptionalHyphen: put_char(ctx_.out, kSoftHyphen); return;
        default: put_char(ctx_.out, ctx_.table[b]);
        }
    }

    ImportContext &ctx_;
    const Document &doc_;
    std::vector<Zone> notes_;
    int16_t char_index_ = -1, para_index_ = -1;
    uint8_t colour_ = code::kColourBlack;
    int calls_ = 0;
};

// The header or footer taken: the one for every page, else the right-hand
// pages' (the first page is a right-hand page), else the left-hand pages'.
const Frame *pick(const Document &doc, Role role) {
    const Frame *best = nullptr;
    for (size_t p = 0; p < 2 && p < doc.pages.size(); ++p)
        for (size_t i = 1; i < doc.pages[p].size(); ++i) {
            const Frame &f = doc.pages[p][i];
            if (f.role != role || f.first_block == 0) continue;
            if (best == nullptr || f.pages == 0 || (f.pages == 2 && best->pages == 1)) best = &f;
        }
    return best;
}

// Families that the Mac's table does not give for their numbers, named once
// at the start of the stream.
void name_fonts(ImportContext &ctx, const Document &doc) {
    for (const auto &[id, family] : doc.font_names) {
        const mactext::FontFace *standard = mactext::font_named(family);
        if (standard != nullptr || id < 0) continue;
        std::string body;
        body += static_cast<char>(id >> 8);
        body += static_cast<char>(id & 0xFF);
        body += family;
        kavrel::stream::put_insert(ctx.out, code::kFontInsert, bytes_of(body), body.size());
    }
}

void block(ImportContext &ctx, Writer &w, const Document &doc, Role role, uint8_t tag) {
    pose_bloc_format(tag, ctx.out);
    if (const Frame *f = pick(doc, role)) w.zone(read_zone(ctx, f->first_block), false);
    raz_attributs(&ctx.ca, ctx.out);
    put_tag(ctx.out, code::kBlockEnd);
}

// A text zone's chain, known by its structure: a text length, then a block
// list of blocks that no chain has taken, with counts a block holds and
// adding up to that length.
bool zone_list_holds(ImportContext &ctx, const std::string &refs, uint32_t length) {
    uint32_t total = 0;
    for (size_t at = 0; at + 4 <= refs.size(); at += 4) {
        const long block = be16(bytes_of(refs) + at);
        const uint16_t count = be16(bytes_of(refs) + at + 2);
        if (block < 3 || block > ctx.block_count() || ctx.block_used(block) || count == 0 || count > kBlockSize) return false;
        total += count;
    }
    return total == length;
}

bool zone_at(ImportContext &ctx, long block) {
    uint8_t head[12];
    const long at = (block - 1) * kBlockSize + ctx.mac_binary_offset;
    if (std::fseek(ctx.in, at, SEEK_SET) != 0 || std::fread(head, 1, sizeof head, ctx.in) != sizeof head) return false;
    const uint32_t length = be32(head), size = be32(head + 4);
    if (length == 0 || length >= (1u << 24) || size == 0 || size % 4 != 0 || size / 4 > static_cast<uint32_t>(ctx.block_count()) ||
        !zone_list_holds(ctx, std::string(reinterpret_cast<const char *>(head) + 8, 4), be16(head + 10)))
        return false;
    Cursor chain(read_block_chain(ctx, block, false).data);
    chain.skip(8);
    return zone_list_holds(ctx, chain.take(size), length);
}

// After damage: the zones that no frame names any more, then the text
// blocks that no zone takes, in block order and in the plain style.
void write_lost_text(ImportContext &ctx, Writer &w) {
    search_unused_blocks(ctx, 4, [&](long block) { return zone_at(ctx, block); },
                         [&](long block) {
                             ++ctx.damage.found_areas;
                             w.zone(read_zone(ctx, static_cast<int>(block)), false);
                         });
    if (ctx.overdrawn()) return;
    for (std::string &text : find_lost_text(ctx)) {
        // Blocks apart in the file need not follow one another in the text.
        if (!text.empty() && text.back() != '\r') text += '\r';
        Zone z;
        z.text = std::move(text);
        z.chars = {{0, -1}};
        z.paras = {{0, -1}};
        w.zone(z, false);
    }
}

void write_document(ImportContext &ctx, const Document &doc) {
    KavrelPage page = doc.page;
    page.columns = doc.columns;
    page.column_gap = doc.column_gap;
    pose_page(&page, ctx.out);
    name_fonts(ctx, doc);
    Writer w(ctx, doc);
    block(ctx, w, doc, Role::Header, code::kHeaderBlock);
    block(ctx, w, doc, Role::Footer, code::kFooterBlock);
    std::vector<Zone> notes;
    for (const std::vector<Frame> &frames : doc.pages)
        for (const Frame &f : frames)
            if (f.role == Role::Note && f.first_block != 0 && !ctx.overdrawn()) notes.push_back(read_zone(ctx, f.first_block));
    w.set_notes(std::move(notes));
    if (doc.pages.size() > 2 && !doc.pages[2].empty() && doc.pages[2][0].first_block != 0)
        w.zone(read_zone(ctx, doc.pages[2][0].first_block), true);
    if (!ctx.damage.damaged() || ctx.overdrawn()) return;
    for (const std::vector<Frame> &frames : doc.pages)
        for (const Frame &f : frames)
            if (f.first_block != 0) claim_zone(ctx, f.first_block);
    write_lost_text(ctx, w);
    w.uncalled_notes();
}

}  // namespace

int32_t import(ImportContext &ctx, const uint8_t *head) {
    Document doc;
    read_page_setup(head, doc);
    Cursor chain(copy_block_chain(ctx, kDocumentChainBlock));
    if (!read_document_chain(chain, doc)) ctx.damage.lost_document_chain = true;
    ctx.damage.directory_cut = doc.directory_cut;
    write_document(ctx, doc);
    if (ctx.overdrawn()) return kImportTooMuchText;
    return ctx.damage.damaged() ? kConvertedDamaged : kConverted;
}

}  // namespace macwrite2::disk
