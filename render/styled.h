// The styled document: the internal stream as a renderer wants it.  The
// reader applies the stream's tags to a cumulative state, so renderers never
// see a tag; they receive paragraphs with their paragraph style, runs of text
// with their whole character style, and the places where blocks begin and end.
//
// It streams: events are delivered as the stream is read and nothing is kept
// but the state and a short run of text.  The page header, the page footer
// and the notes arrive in place (every import writes the header and footer
// first; a note's text follows its call); a renderer that shows them
// elsewhere holds what it made of them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "mactext/fonts.h"

namespace render {

// The Mac font table, which the pictures share; every renderer names its
// fonts by these.
using mactext::FontFace;
using mactext::Generic;
using mactext::first_of_family;
using mactext::font_face;
using mactext::font_table;
using mactext::generic_name;

enum class Align : uint8_t { Left, Centre, Right, Justified };

// A tab stop, in columns of 1/10 inch from the left margin: the pitch at
// which the imports measure their rulers.
enum class TabAlign : uint8_t { Left, Centre, Right, Decimal };

struct TabStop {
    uint8_t column;
    TabAlign align = TabAlign::Left;
    bool operator==(const TabStop &) const = default;
};

// Lengths in twips (1/20 point).
inline constexpr int kTwipsPerInch = 1440;
inline constexpr int kTwipsPerPoint = 20;

// A tab stop where the document measures it, in twips from the page's
// left margin.
struct TabPosition {
    int twips;
    bool decimal;
    bool operator==(const TabPosition &) const = default;
};

struct ParagraphStyle {
    Align align = Align::Left;
    uint8_t interline = 8;          // 8 single, 12 one and a half, 16 double
    std::vector<TabStop> tabs;      // in column order
    // The same stops as the document measures them, when the stream says
    // (MacWrite 4.6/5 and 2.2 rulers); empty otherwise.
    std::vector<TabPosition> tab_positions;
    // Indents from the page's margins, the first line's from the left
    // indent (negative: a hanging indent); space before and after; an exact
    // line height, 0 when the line spacing decides.
    int left_indent = 0, right_indent = 0, first_indent = 0;
    int space_before = 0, space_after = 0;
    int line_height = 0;
};

// The page: the paper's size and the margins around the text block.
struct PageSetup {
    int width = 12240, height = 15840;  // US Letter
    int top = kTwipsPerInch, left = kTwipsPerInch, bottom = kTwipsPerInch, right = kTwipsPerInch;
    int first_page = 1;                  // the number the first page is printed with
    bool title_page = false;             // the first page has no header or footer
    bool said = false;                   // the stream said so; else the defaults above
    // What the header and the footer take inside the margins: the text
    // starts below the one and ends above the other, blank lines included.
    int header_height = 0, footer_height = 0;
    int columns = 1, column_gap = 0;     // the text's columns and the gap between them
    int text_width() const { return width - left - right; }
};

enum Attribute : uint16_t {
    kBold = 1 << 0,
    kItalic = 1 << 1,
    kUnderline = 1 << 2,
    kDoubleUnderline = 1 << 3,
    kStrikeout = 1 << 4,
    kOutline = 1 << 5,
    kShadow = 1 << 6,
    kSuperscript = 1 << 7,
    kSubscript = 1 << 8,
    kSmallCaps = 1 << 9,
    kAllCaps = 1 << 10,
};

// The eight colours of the classic Mac, as the stream numbers them (black
// first); RGB as six hexadecimal digits.
enum class Colour : uint8_t { Black, White, Red, Green, Blue, Cyan, Magenta, Yellow };
std::string_view colour_hex(Colour c);

struct CharStyle {
    uint16_t attributes = 0;
    Colour colour = Colour::Black;
    uint8_t size = 0;                  // points; 0 while the stream has not said
    int font = -1;                     // Mac font number; -1 while not said
    const FontFace *face = nullptr;    // its family; null when not said or unknown
    bool has(Attribute a) const { return (attributes & a) != 0; }
    bool operator==(const CharStyle &) const = default;
};

enum class Block : uint8_t { Header, Footer, Note };
// The stream's field kinds (kFieldPageNumber, kFieldDate, kFieldTime).
enum class Field : uint8_t { PageNumber = 1, Date = 2, Time = 3 };

// A picture, numbered by its order in the document from 1.
struct Picture {
    int number = 0;
    std::string_view pict;   // the QuickDraw picture, from its size word on
    int width = 0, height = 0;  // its frame, in points
    // The rectangle its paragraph stores: the left edge in points from the
    // printable page's left, and the size it is shown at.
    int left = 0, box_width = 0, box_height = 0;
    // Whether there is anything to draw: a picture with an empty frame (the
    // application's placeholder) or no picture at all has no image, only its
    // marker.
    bool drawable() const { return width > 0 && height > 0; }
    // The picture as SVG at the frame's size; empty when it cannot be drawn.
    std::string svg() const;
    // One PNG of it when it is made of bitmaps alone; empty otherwise.
    std::string png() const;
};

// Where the program that saved the document laid a paragraph or a picture
// of the main text out, when the document records it (MacWrite 4.6/5).
struct Placement {
    int page = 0;                 // counted from 0
    int top = 0;                  // points from the top of the printable page, the header's room included
    std::vector<uint8_t> lines;   // each line's height in points; none for a picture
};

// Events in document order.  Paragraphs nest in the main text or in a block;
// a note's block opens inside the main-text paragraph that calls it, right
// after note_call, and the paragraph goes on after the block ends.  Header
// and footer blocks open between paragraphs.  Every begin has its end, even
// when the stream stops short.
class StyledListener {
public:
    virtual ~StyledListener() = default;
    // Before any other event, once.
    virtual void page_setup(const PageSetup &page) { (void)page; }
    virtual void begin_block(Block kind, int note_number) = 0;
    virtual void end_block() = 0;
    virtual void begin_paragraph(const ParagraphStyle &style) = 0;
    virtual void end_paragraph() = 0;
    // A run of characters (BMP code points, never a control character or a
    // lone surrogate); consecutive runs may share a style.
    virtual void text(std::u16string_view run, const CharStyle &style) = 0;
    virtual void tab(const CharStyle &style) = 0;
    // A line end that stands in place of a space.
    virtual void line_end(const CharStyle &style) = 0;
    // In a paragraph or between paragraphs, as the stream puts it.
    virtual void page_break() = 0;
    // A line the author broke (not one that stands for a space); outputs
    // that know no such thing end the line as they can.
    virtual void line_break(const CharStyle &style) { line_end(style); }
    // The text goes on in the next column of the page's columns; outputs
    // without columns break the line.
    virtual void column_break(const CharStyle &style) { line_break(style); }
    // Notes are numbered by their order in the document, from 1.
    virtual void note_call(int number, const CharStyle &style) = 0;
    virtual void field(Field kind, const CharStyle &style) = 0;
    // In a paragraph or between paragraphs, as the stream puts it (MacWrite
    // gives a picture a paragraph of its own).
    virtual void picture(const Picture &picture) = 0;
    // Just before the paragraph or picture it places, between paragraphs.
    virtual void placement(const Placement &place) { (void)place; }
    // Whether the reader turns the pages the document stores for its main
    // text into the flow: where a paragraph or picture is placed on a later
    // page than the one before it, a page break before it and, as space
    // before it, the room above it on that page (its stored top less the
    // header's room).  Outputs whose pages a word processor or a browser
    // lays out want it; one that places every paragraph itself, and outputs
    // without pages, do not.
    virtual bool follows_stored_pages() const { return false; }
    // The page break that starts a stored page, between paragraphs: an
    // output may show it apart from the breaks the author typed.
    virtual void stored_page_break() { page_break(); }
    virtual void end_document() = 0;
};

// Reads the stream to its end, driving `listener`.
void read_styled(std::FILE *stream, StyledListener &listener);

// The picture an insert body carries; false for an insert of another kind.
// `number` is left to the caller.
bool picture_of(std::string_view insert, Picture &out);

// The tab stops an insert body carries; false for an insert of another kind.
bool tabs_of(std::string_view insert, std::vector<TabPosition> &out);

// The placement an insert body carries; false for an insert of another kind.
bool placement_of(std::string_view insert, Placement &out);

// The page an insert body carries; false for an insert of another kind.
bool page_of(std::string_view insert, PageSetup &out);

// "[picture N]", what text-like outputs show for a picture.
std::string picture_placeholder(int number);

// The text that stands for a field in text-like outputs: "#" for the page
// number, "<date>" and "<time>".
std::u16string_view field_placeholder(Field kind);

}  // namespace render
