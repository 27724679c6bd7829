#include <string>

#include "render/render.h"
#include "render/sink.h"
#include "render/styled.h"
#include "mactext/utf8.h"

namespace render {

namespace {

// The header and the main text go out as they come; the footer and the notes
// are held and close the text.  Each of the four parts that has text is set
// off from the one before by a blank line.
class TextRenderer final : public StyledListener {
public:
    explicit TextRenderer(std::FILE *out) : page_(out) {}

    bool ok() { return page_.flush(); }

    void begin_block(Block kind, int note_number) override {
        flow_ = kind == Block::Header ? Flow::Header : kind == Block::Footer ? Flow::Footer : Flow::Note;
        if (kind != Block::Note) return;
        end_line(notes_);
        notes_ += mark(note_number) + " ";
    }
    void end_block() override { flow_ = Flow::Main; }
    void begin_paragraph(const ParagraphStyle &) override { ++open_paragraphs_; }
    void end_paragraph() override {
        put("\n");
        --open_paragraphs_;
    }
    void text(std::u16string_view run, const CharStyle &) override {
        if (on_page()) {
            page_.put_utf8(run);
            return;
        }
        utf8_.clear();
        mactext::append_utf8(utf8_, run);
        put(utf8_);
    }
    void tab(const CharStyle &) override { put("\t"); }
    void line_end(const CharStyle &) override { put(" "); }
    void line_break(const CharStyle &) override { put("\n"); }
    void page_break() override { put("\f"); }
    void note_call(int number, const CharStyle &) override { put(mark(number)); }
    void field(Field kind, const CharStyle &style) override { text(field_placeholder(kind), style); }
    // A picture between paragraphs is a line of its own.
    void picture(const Picture &p) override {
        put(picture_placeholder(p.number));
        if (open_paragraphs_ == 0) put("\n");
    }

    void end_document() override {
        for (std::string *held : {&footer_, &notes_}) {
            if (held->empty()) continue;
            end_line(*held);
            separate();
            page_.put(*held);
        }
        if (!page_.empty() && page_.last() != '\n') page_.put('\n');
    }

private:
    enum class Flow { None, Main, Header, Footer, Note };

    static std::string mark(int number) {
        std::string m(1, '[');
        m += std::to_string(number);
        m += ']';
        return m;
    }
    static void end_line(std::string &s) {
        if (!s.empty() && s.back() != '\n') s += '\n';
    }

    // A blank line after what the page has so far.
    void separate() {
        if (page_.empty()) return;
        if (page_.last() != '\n') page_.put('\n');
        page_.put('\n');
    }

    // Whether what comes now goes on the page right after what it has, with
    // nothing to set it off.
    bool on_page() const { return (flow_ == Flow::Main || flow_ == Flow::Header) && flow_ == part_; }

    void put(std::string_view s) {
        switch (flow_) {
        case Flow::Footer: footer_ += s; return;
        case Flow::Note: notes_ += s; return;
        default:
            if (flow_ != part_) separate();
            part_ = flow_;
            page_.put(s);
        }
    }

    Sink page_;
    std::string footer_, notes_;
    std::string utf8_;  // a run as UTF-8, kept for its room
    Flow flow_ = Flow::Main;
    Flow part_ = Flow::None;  // the part the page ends with
    // A note's paragraphs open inside the main text's.
    int open_paragraphs_ = 0;
};

}  // namespace

bool to_text(std::FILE *stream, std::FILE *out) {
    TextRenderer text(out);
    read_styled(stream, text);
    return text.ok();
}

}  // namespace render
