// Codes of the internal stream.  A tag is 0x5C, a code byte and as many
// parameter bytes as the code's range decides (tag_param_count); an insert
// (0xC0) carries a 32-bit big-endian length and that many bytes.
#pragma once

#include <cstdint>

namespace kavrel::code {

inline constexpr uint8_t kParagraphEnd = 13;
inline constexpr uint8_t kLineEnd = 10;   // stands in place of a space
inline constexpr uint8_t kTab = 9;
inline constexpr uint8_t kPageBreak = 12;
inline constexpr uint8_t kEscape = 0x5C;  // opens every tag

// Tags written by the converters.
inline constexpr uint8_t kExtendedChar = 0x20;  // set, code
inline constexpr uint8_t kBackslash = 0x5C;     // the character itself
inline constexpr uint8_t kField = 0x5F;        // kind: one of the kField* below
inline constexpr uint8_t kBlockEnd = 0x7F;
inline constexpr uint8_t kTabSet = 0x80;        // kind, column
inline constexpr uint8_t kTabClear = 0x81;      // kind, column
inline constexpr uint8_t kNoteCall = 0xA2;      // 0, number
inline constexpr uint8_t kNoteText = 0xA3;      // 0x5C, 0xA3 (first note pass only)

// Kinds of field: what a header or footer shows in the field's place when
// the page is printed.
inline constexpr uint8_t kFieldPageNumber = 1, kFieldDate = 2, kFieldTime = 3;

// Tags written by the host's operations.
inline constexpr uint8_t kBoldOn = 0x23, kBoldOff = 0x24;
inline constexpr uint8_t kUnderlineOn = 0x25, kUnderlineOff = 0x26;
inline constexpr uint8_t kSubscriptOn = 0x27, kSubscriptOff = 0x28;
inline constexpr uint8_t kSuperscriptOn = 0x29, kSuperscriptOff = 0x2A;
inline constexpr uint8_t kCentre = 0x2B, kLeft = 0x2C, kJustify = 0x2D, kRight = 0x2E;
inline constexpr uint8_t kItalicOn = 0x2F, kItalicOff = 0x30;
inline constexpr uint8_t kOutlineOn = 0x31, kOutlineOff = 0x32;
inline constexpr uint8_t kNonBreakingSpace = 0x34;
inline constexpr uint8_t kShadowOn = 0x35, kShadowOff = 0x36;
inline constexpr uint8_t kStrikeoutOn = 0x37, kStrikeoutOff = 0x38;
inline constexpr uint8_t kAllCapsOn = 0x39, kAllCapsOff = 0x3A;
inline constexpr uint8_t kDoubleUnderlineOn = 0x3B, kDoubleUnderlineOff = 0x3C;
inline constexpr uint8_t kSmallCapsOn = 0x3D, kSmallCapsOff = 0x3E;
inline constexpr uint8_t kColumnBreak = 0x49;  // the text goes on in the next column
inline constexpr uint8_t kLineBreak = 0x4A;    // a new line within the paragraph, as the author broke it
inline constexpr uint8_t kBoldOn2 = 0x3F, kBoldOff2 = 0x40;
inline constexpr uint8_t kUnderlineOn2 = 0x41, kUnderlineOff2 = 0x42;
inline constexpr uint8_t kSize = 0x4C;          // points
inline constexpr uint8_t kInterline = 0x4D;     // host units, 8 = single
inline constexpr uint8_t kFont = 0x88;          // font number, high, low
inline constexpr uint8_t kHeaderBlock = 0x9E;   // 0, 0
inline constexpr uint8_t kFooterBlock = 0xA1;   // 0, 0
inline constexpr uint8_t kInsert = 0xC0;
// Paragraph geometry: a signed 16-bit big-endian length in twips (1/20
// point), holding from the next paragraph on like alignment.  Indents are
// from the page's margins; the first line's is from the left indent; a line
// height of 0 leaves the lines to the line spacing (0x4D).
inline constexpr uint8_t kLeftIndent = 0xD0, kRightIndent = 0xD1, kFirstIndent = 0xD2;
inline constexpr uint8_t kSpaceBefore = 0xD3, kSpaceAfter = 0xD4, kLineHeight = 0xD5;
// The colour of the characters that follow: 0, then one of the eight
// colours of the classic Mac (kColour*); the stream starts black.
inline constexpr uint8_t kTextColour = 0xD8;
inline constexpr uint8_t kColourBlack = 0, kColourWhite = 1, kColourRed = 2, kColourGreen = 3, kColourBlue = 4,
                         kColourCyan = 5, kColourMagenta = 6, kColourYellow = 7;
inline constexpr uint8_t kFirstGeometryCode = kLeftIndent, kLastGeometryCode = kLineHeight;

// An insert body opens with four letters saying what it carries.  A picture:
// "PICT", the 8-byte rectangle of its paragraph (top, left, bottom, right,
// big-endian 16-bit), then the QuickDraw picture itself.
inline constexpr char kPictureInsert[4] = {'P', 'I', 'C', 'T'};
inline constexpr int kInsertKindSize = 4;
inline constexpr int kPictureRectSize = 8;
// The document's page: "PAGE", then big-endian 16-bit words: paper width and
// height, top, left, bottom and right margins (all unsigned, in twips), the
// first page's number (signed), flags (kPageTitle: the first page is a
// title page, without header or footer), and the heights that the page
// header and the page footer take inside the margins (unsigned, in twips).
inline constexpr char kPageInsert[4] = {'P', 'A', 'G', 'E'};
inline constexpr int kPageInsertWords = 10;
// Two words more when the text runs in columns: their number and the gap
// between them (twips).
inline constexpr int kPageInsertColumnWords = 12;
// A font's family name: "FONT", the font number (big-endian 16-bit) as the
// stream's 0x88 tags give it, then the name in Mac OS Roman.  It names a
// number that the Mac's own table does not, or names it otherwise.
inline constexpr char kFontInsert[4] = {'F', 'O', 'N', 'T'};
inline constexpr uint16_t kPageTitle = 0x0001;
// Where the program that saved the document laid the next paragraph or
// picture out: "LAID", its page (counted from 0) and its top (in points
// from the top of the printable page, the header's room included), both
// big-endian 16-bit, then one byte per line of a text paragraph: the line's
// height in points.
// The tab stops of the ruler whose column tags (0x80, 0x81) come just
// before, as the document measures them: "TABS", then one big-endian 16-bit
// word per stop, the position in twips from the page's left margin, bit 15
// set for a decimal stop.  Column tags that follow make it stale.
inline constexpr char kTabsInsert[4] = {'T', 'A', 'B', 'S'};
inline constexpr uint16_t kTabsDecimal = 0x8000;
inline constexpr char kLaidInsert[4] = {'L', 'A', 'I', 'D'};
inline constexpr int kLaidHeadSize = 4;

// Number of parameter bytes after a code; -1 for the insert's own body.
constexpr int tag_param_count(uint8_t c) {
    if (c <= 0x1F) return 1;
    if (c == 0x20) return 2;
    if (c <= 0x4A) return 0;
    if (c <= 0x5B) return 1;
    if (c == 0x5C) return 0;
    if (c <= 0x7E) return 1;
    if (c == 0x7F) return 0;
    if (c == 0xC0) return -1;
    return 2;
}

}  // namespace kavrel::code
