#include <array>
#include <string>

#include "render/render.h"
#include "render/sink.h"
#include "render/styled.h"
#include "mactext/utf8.h"

namespace render {

namespace {

// What Markdown can show of a character style: emphasis, strong emphasis and
// strikeout as delimiters, the rest as inline HTML.
constexpr uint16_t kDelimited = kBold | kItalic | kStrikeout;
constexpr uint16_t kShown = kDelimited | kUnderline | kDoubleUnderline | kSuperscript | kSubscript;

// A delimiter run opens or closes emphasis only when the characters around
// it allow (CommonMark's flanking rules); an empty HTML comment between a
// delimiter and a character that would spoil it satisfies them without
// adding text.
constexpr std::string_view kSeparator = "<!-- -->";
constexpr size_t kHeldSpaceLimit = 4096;

enum class Kind { Space, Punct, Alnum, Other };

// Characters outside ASCII are Other: a letter or a punctuation mark, which
// the rules below treat with the caution either needs.
constexpr Kind classify(char16_t c) {
    if (c == ' ' || c == '\t' || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x202F ||
        c == 0x205F || c == 0x3000)
        return Kind::Space;
    if (c >= 0x80) return Kind::Other;
    const bool alnum = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    return alnum ? Kind::Alnum : Kind::Punct;
}

constexpr auto kAsciiKinds = [] {
    std::array<Kind, 128> kinds{};
    for (char16_t a = 0; a < 128; ++a) kinds[a] = classify(a);
    return kinds;
}();

// The same, with ASCII looked up: every character of the text asks.
inline Kind kind_of(char16_t c) { return c < 128 ? kAsciiKinds[c] : classify(c); }

bool may_be_punct(Kind k) { return k == Kind::Punct || k == Kind::Other; }
bool may_be_word(Kind k) { return k == Kind::Alnum || k == Kind::Other; }

// Characters that are markup wherever they stand.
bool always_escaped(char16_t c) {
    switch (c) {
    case '\\': case '`': case '*': case '_': case '[': case ']': case '<': case '&': case '~': case '|': return true;
    default: return false;
    }
}

// Characters that are markup at the start of a line.
bool escaped_first(char16_t c) { return c == '#' || c == '>' || c == '-' || c == '+' || c == '='; }

// A colon followed by one of these could start an emoji short code.
bool short_code_char(char16_t c) {
    return kind_of(c) == Kind::Alnum || c == '_' || c == '+' || c == '-';
}

std::string delimiters(uint16_t shown) {
    std::string d;
    if (shown & kStrikeout) d += "~~";
    if (shown & kBold) d += "**";
    if (shown & kItalic) d += "*";
    return d;
}

std::string opening_tags(uint16_t shown) {
    std::string t;
    if (shown & (kUnderline | kDoubleUnderline)) t += "<u>";
    if (shown & kSuperscript) t += "<sup>";
    if (shown & kSubscript) t += "<sub>";
    return t;
}

std::string closing_tags(uint16_t shown) {
    std::string t;
    if (shown & kSubscript) t += "</sub>";
    if (shown & kSuperscript) t += "</sup>";
    if (shown & (kUnderline | kDoubleUnderline)) t += "</u>";
    return t;
}

// One place the Markdown goes (the page, the held footer, the held notes)
// and the state of its open paragraph.
struct Flow {
    explicit Flow(std::FILE *file = nullptr) : sink(file) {}
    Sink sink;
    bool in_note = false, note_started = false;
    bool written = false;      // the paragraph has output
    bool line_start = true;    // no character of the paragraph yet
    int digits = 0;            // leading digits; -1 once it cannot be a list item
    uint16_t open = 0;         // attributes whose markers are open
    std::string held_space;    // whitespace inside open markers
    Kind last = Kind::Space;   // what the last written character was
    bool after_closer = false; // the output ends with closing delimiters
    bool colon = false;        // a colon waits for the character after it
    uint16_t colon_shown = 0;
};

class MarkdownRenderer final : public StyledListener {
public:
    MarkdownRenderer(std::FILE *out, const RenderOptions &options) : page_(out), options_(options) {}

    bool ok() { return page_.sink.flush(); }

    void begin_block(Block kind, int note_number) override {
        if (kind == Block::Header) return;
        flow_ = kind == Block::Footer ? &footer_ : &notes_;
        if (kind != Block::Note) return;
        if (!notes_.sink.empty()) notes_.sink.put("\n");
        notes_.sink.put("[^" + std::to_string(note_number) + "]:");
        notes_.in_note = true;
        notes_.note_started = false;
    }

    void end_block() override {
        if (flow_->in_note) {
            if (!flow_->note_started) flow_->sink.put("\n");
            flow_->in_note = false;
        }
        flow_ = &page_;
    }

    void begin_paragraph(const ParagraphStyle &) override {
        in_paragraph_ = true;
        Flow &f = *flow_;
        f.written = false;
        f.line_start = true;
        f.digits = 0;
        f.last = Kind::Space;
        f.after_closer = false;
    }

    void end_paragraph() override {
        Flow &f = *flow_;
        flush_colon(f);
        close_markers(f, Kind::Space);
        f.held_space.clear();
        if (f.written) f.sink.put("\n");
        in_paragraph_ = false;
    }

    void text(std::u16string_view run, const CharStyle &style) override {
        for (char16_t c : run) put_char(*flow_, c, style.attributes & kShown);
    }

    void tab(const CharStyle &style) override { space(*flow_, "\t", style.attributes & kShown); }
    void line_end(const CharStyle &style) override { space(*flow_, " ", style.attributes & kShown); }
    void page_break() override { flush_colon(*flow_); }

    void note_call(int number, const CharStyle &style) override {
        Flow &f = *flow_;
        flush_colon(f);
        content(f, "[^" + std::to_string(number) + "]", Kind::Punct, Kind::Punct, style.attributes & kShown);
    }

    void field(Field kind, const CharStyle &style) override { text(field_placeholder(kind), style); }

    // The extracted picture as an image, or its placeholder (always for a
    // picture that cannot be drawn: it has no SVG); between paragraphs, a
    // paragraph of its own.
    void picture(const Picture &p) override {
        const bool alone = !in_paragraph_;
        if (alone) begin_paragraph(ParagraphStyle{});
        Flow &f = *flow_;
        flush_colon(f);
        const std::string name = picture_placeholder(p.number);
        std::string md;
        if (options_.media_dir.empty() || !p.drawable()) {
            md = "\\";
            md += name.substr(0, name.size() - 1);
            md += "\\]";
        } else {
            md = "![";
            md += name.substr(1, name.size() - 2);
            md += "](<";
            md += options_.media_dir;
            md += "/picture" + std::to_string(p.number) + ".svg>)";
        }
        content(f, md, Kind::Punct, Kind::Punct, 0);
        if (alone) end_paragraph();
    }

    void end_document() override {
        for (Flow *held : {&footer_, &notes_}) {
            if (held->sink.empty()) continue;
            if (!page_.sink.empty()) page_.sink.put("\n");
            page_.sink.put(held->sink.held());
        }
    }

private:
    // The first output of a paragraph: a blank line after the one before;
    // a note's later paragraphs are indented to stay in the note.
    static void start_output(Flow &f) {
        if (f.written) return;
        f.written = true;
        if (f.in_note && !f.note_started) {
            f.sink.put(" ");
            f.note_started = true;
        } else if (!f.sink.empty()) {
            f.sink.put(f.in_note ? "\n    " : "\n");
        }
    }

    static void write(Flow &f, std::string_view s, Kind last) {
        f.sink.put(s);
        f.last = last;
        f.after_closer = false;
    }

    static void close_markers(Flow &f, Kind next) {
        if (f.open == 0) return;
        const std::string tags = closing_tags(f.open), delims = delimiters(f.open);
        if (!tags.empty()) write(f, tags, Kind::Punct);
        if (!delims.empty()) {
            const bool spoilt = may_be_punct(f.last) && may_be_word(next);
            f.sink.put(delims);
            if (spoilt) f.sink.put(kSeparator);
            f.last = Kind::Punct;
            f.after_closer = !spoilt;
        }
        f.open = 0;
    }

    static void open_markers(Flow &f, uint16_t shown, Kind first) {
        const std::string delims = delimiters(shown), tags = opening_tags(shown);
        if (!delims.empty()) {
            const Kind next = tags.empty() ? first : Kind::Punct;
            if (f.after_closer || (may_be_word(f.last) && may_be_punct(next))) f.sink.put(kSeparator);
            write(f, delims, Kind::Punct);
        }
        if (!tags.empty()) write(f, tags, Kind::Punct);
        f.open = shown;
    }

    static void flush_space(Flow &f) {
        if (f.held_space.empty()) return;
        write(f, f.held_space, Kind::Space);
        f.held_space.clear();
    }

    // Text that is not whitespace, escaped already.
    static void content(Flow &f, std::string_view md, Kind first, Kind last, uint16_t shown) {
        start_output(f);
        f.line_start = false;
        if (f.open != shown) {
            close_markers(f, f.held_space.empty() ? first : Kind::Space);
            flush_space(f);
            if (shown != 0) open_markers(f, shown, first);
        } else {
            flush_space(f);
        }
        write(f, md, last);
    }

    // Whitespace never stands just inside a delimiter: it waits until the
    // text goes on in the same style.  A paragraph's leading whitespace is
    // dropped, as Markdown would read it as code.
    static void space(Flow &f, std::string_view ws, uint16_t shown) {
        flush_colon(f);
        if (f.line_start) return;
        if (f.open != 0 && f.open == shown && f.held_space.size() < kHeldSpaceLimit) {
            f.held_space += ws;
            return;
        }
        close_markers(f, Kind::Space);
        flush_space(f);
        write(f, ws, Kind::Space);
    }

    static void flush_colon(Flow &f, bool escape = false) {
        if (!f.colon) return;
        f.colon = false;
        content(f, escape || f.sink.last() == ']' ? "\\:" : ":", Kind::Punct, Kind::Punct, f.colon_shown);
    }

    static void put_char(Flow &f, char16_t c, uint16_t shown) {
        flush_colon(f, short_code_char(c));
        const Kind k = kind_of(c);
        char utf8[4];
        if (k == Kind::Space) {
            space(f, {utf8, mactext::encode_utf8(utf8, c)}, shown);
            return;
        }
        if (c == ':') {
            f.colon = true;
            f.colon_shown = shown;
            return;
        }
        bool escape =
            always_escaped(c) || (f.line_start && escaped_first(c)) || (f.digits > 0 && (c == '.' || c == ')'));
        f.digits = (f.line_start || f.digits > 0) && c >= '0' && c <= '9' && f.digits < 9 ? f.digits + 1 : -1;
        // The escape, if any, and the character: room for both.
        char md[4];
        md[0] = '\\';
        const size_t n = mactext::encode_utf8(md + (escape ? 1 : 0), c) + (escape ? 1 : 0);
        content(f, {md, n}, escape ? Kind::Punct : k, k, shown);
    }

    Flow page_, footer_, notes_;
    Flow *flow_ = &page_;
    const RenderOptions &options_;
    bool in_paragraph_ = false;
};

}  // namespace

bool to_markdown(std::FILE *stream, std::FILE *out, const RenderOptions &options) {
    MarkdownRenderer markdown(out, options);
    read_styled(stream, markdown);
    return markdown.ok();
}

}  // namespace render
