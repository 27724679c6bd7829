#include "render/stored_pages.h"

#include <algorithm>

namespace render {

namespace {

class StoredPages final : public StyledListener {
public:
    explicit StoredPages(StyledListener &out) : out_(out) {}

    void page_setup(const PageSetup &page) override {
        page_ = page;
        out_.page_setup(page);
    }

    void begin_block(Block kind, int note_number) override {
        ++blocks_;
        out_.begin_block(kind, note_number);
    }

    void end_block() override {
        if (blocks_ > 0) --blocks_;
        out_.end_block();
    }

    void begin_paragraph(const ParagraphStyle &style) override {
        if (blocks_ > 0) return out_.begin_paragraph(style);
        broken_ = false;
        open_ = true;
        if (room_ == 0) return out_.begin_paragraph(style);
        ParagraphStyle spaced = style;
        spaced.space_before += room_;
        room_ = 0;
        out_.begin_paragraph(spaced);
    }

    void end_paragraph() override {
        if (blocks_ == 0) open_ = false;
        out_.end_paragraph();
    }

    void text(std::u16string_view run, const CharStyle &style) override { out_.text(run, style); }
    void tab(const CharStyle &style) override { out_.tab(style); }
    void line_end(const CharStyle &style) override { out_.line_end(style); }
    void line_break(const CharStyle &style) override { out_.line_break(style); }
    void column_break(const CharStyle &style) override { out_.column_break(style); }
    void note_call(int number, const CharStyle &style) override { out_.note_call(number, style); }
    void field(Field kind, const CharStyle &style) override { out_.field(kind, style); }

    void page_break() override {
        out_.page_break();
        if (blocks_ == 0) broken_ = true;
    }

    // A picture between paragraphs that needs room above it gets a
    // paragraph of its own that gives it.
    void picture(const Picture &p) override {
        const bool spaced = blocks_ == 0 && !open_ && room_ > 0;
        if (spaced) begin_paragraph(ParagraphStyle{});
        if (blocks_ == 0) broken_ = false;
        out_.picture(p);
        if (spaced) end_paragraph();
    }

    void placement(const Placement &place) override {
        if (blocks_ == 0) follow(place);
        out_.placement(place);
    }

    void end_document() override {
        out_.end_document();
    }

private:
    // Twips of the author's page: where the text may go down to, and the
    // room the header takes (none on a title page).
    int header(int page) const { return page == 0 && page_.title_page ? 0 : page_.header_height; }
    int bottom(int page) const {
        return page_.height - page_.top - page_.bottom - (page == 0 && page_.title_page ? 0 : page_.footer_height);
    }
    // Room above a paragraph, at most the page's text height less an inch:
    // a stream cannot ask for pages of nothing.
    int room(int twips, int page) const { return std::clamp(twips, 0, std::max(0, bottom(page) - header(page) - kTwipsPerInch)); }

    void follow(const Placement &place) {
        const int top = place.top * kTwipsPerPoint;
        room_ = 0;
        if (page_at_ >= 0 && place.page > page_at_) {
            // A page of the author's starts here: one break however many
            // pages the stored page skips, none after a break the text made.
            if (!broken_) out_.stored_page_break();
            broken_ = true;
            room_ = room(top - header(place.page), place.page);
        } else if (carried_ && place.page == page_at_) {
            // The first after lines carried over from the page before.
            room_ = room(top - carried_to_, place.page);
        }
        carried_ = false;
        page_at_ = std::max(page_at_, place.page);
        carry(place, top);
    }

    // Lines of the paragraph that the author's page had no room for went
    // on to the next page.  When none fitted, the paragraph starts that page
    // here too.  When some did, the output's page ends where its own lines
    // fill it: a break inside the paragraph would make two paragraphs of it
    // in a word processor.  The next paragraph on that page follows the
    // carried lines, without a break of its own.
    void carry(const Placement &place, int top) {
        int y = top;
        size_t fitted = 0;
        while (fitted < place.lines.size() && y + place.lines[fitted] * kTwipsPerPoint <= bottom(place.page))
            y += place.lines[fitted++] * kTwipsPerPoint;
        if (fitted == place.lines.size()) return;
        int tail = 0;
        for (size_t i = fitted; i < place.lines.size(); ++i) tail += place.lines[i] * kTwipsPerPoint;
        const int next = place.page + 1;
        if (header(next) + tail > bottom(next)) return;  // more than one page more: it flows on
        if (fitted == 0) {
            if (!broken_) out_.stored_page_break();
            broken_ = true;
            room_ = 0;
        }
        carried_ = true;
        carried_to_ = header(next) + tail;
        page_at_ = next;
    }

    StyledListener &out_;
    PageSetup page_;
    int blocks_ = 0;
    bool open_ = false;  // a paragraph of the main text is open
    // The author's page the output is on, and whether the main text's last
    // event was a page break.
    int page_at_ = -1;
    bool broken_ = false;
    // Room to give above the next paragraph or picture (twips).
    int room_ = 0;
    // Lines of the last paragraph went on to page_at_, down to carried_to_.
    bool carried_ = false;
    int carried_to_ = 0;
};

}  // namespace

std::unique_ptr<StyledListener> following_stored_pages(StyledListener &out) {
    return std::make_unique<StoredPages>(out);
}

}  // namespace render
