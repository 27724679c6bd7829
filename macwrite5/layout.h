// The MacWrite 4.6/5 file layout, shared by the import and the export.
// Every integer is big-endian; offsets count from the document header.
#pragma once

#include <cstdint>

namespace macwrite5 {

inline constexpr uint8_t kVersion = 6;
inline constexpr uint8_t kVersion22 = 3;  // the older generation's version word
inline constexpr const char *kMacBinaryTypeCreator = "WORDMACA";

// Document header.
inline constexpr int kHeaderImageSize = 512;
inline constexpr int kVersionAt = 0;
inline constexpr int kMainCountAt = 2;
inline constexpr int kHeaderCountAt = 4;
inline constexpr int kFooterCountAt = 6;
inline constexpr int kTitlePageAt = 8;     // non-zero: the first page is a title page
inline constexpr int kFirstPageAt = 16;    // the number the first page is printed with
inline constexpr int kClosingRecordPosAt = 18;
inline constexpr int kPrintRecordAt = 40;
inline constexpr int kFooterWindowAt = 160;
inline constexpr int kHeaderWindowAt = 206;
inline constexpr int kMainWindowAt = 252;
inline constexpr int kWindowSize = 46;

// Window record.
inline constexpr int kInfoArrayPosAt = 12;
inline constexpr int kInfoArrayLengthAt = 16;
inline constexpr int kLineHeightsPosAt = 18;
inline constexpr int kLineHeightsLengthAt = 22;

// Information entry.
inline constexpr int kEntrySize = 16;
inline constexpr int kHeightAt = 0;
// The paragraph's top in points and its page (from 0), as MacWrite laid it
// out.  A main-text paragraph's top counts from the top of the print
// record's page rectangle, the room the header takes included; a header's or
// footer's from the top of its own area.  Documents that other programs
// saved keep both at 0.
inline constexpr int kTopAt = 2;
inline constexpr int kPageAt = 4;
inline constexpr int kDataWordAt = 8;     // flags in the top byte, offset below
inline constexpr int kDataLengthAt = 12;
inline constexpr uint8_t kFlagOwnJustification = 0x40;
inline constexpr uint8_t kFlagCompressed = 0x08;
inline constexpr uint8_t kJustificationMask = 0x03;
inline constexpr uint32_t kDataOffsetMask = 0x00FFFFFF;
inline constexpr uint16_t kPageBreakLength = 22;
// A picture paragraph's data: its rectangle on the page, then the picture.
inline constexpr int kPictureRectSize = 8;

// Format run.
inline constexpr int kRunSize = 6;
inline constexpr uint8_t kStyleBold = 0x01, kStyleItalic = 0x02, kStyleUnderline = 0x04,
                         kStyleOutline = 0x08, kStyleShadow = 0x10, kStyleSuperscript = 0x20,
                         kStyleSubscript = 0x40;

// Ruler.
inline constexpr int kRulerSize = 34;
inline constexpr int kLeftMarginAt = 0;
inline constexpr int kRightMarginAt = 2;
inline constexpr int kJustificationAt = 4;
inline constexpr int kTabCountAt = 5;
inline constexpr int kLineSpacingAt = 6;
inline constexpr int kFirstLineAt = 8;     // where the first line starts, in points
inline constexpr int kTabStopsAt = 10;
inline constexpr int kMaxTabs = 10;
inline constexpr uint16_t kDecimalTabBit = 0x8000;

// A decimal stop stores its position negated, with bit 15 set.
constexpr int32_t stop_position(uint16_t word) {
    return (word & kDecimalTabBit) ? -static_cast<int32_t>(static_cast<int16_t>(word)) : word;
}

// Ruler line spacing codes.
enum LineSpacing : uint8_t { kSingle = 0, kOneAndHalf = 1, kDouble = 2 };

// Ruler justification codes.
enum Justification : uint8_t { kLeft = 0, kCentred = 1, kRight = 2, kFull = 3 };

// Compressed text: nibbles 0-14 stand for these characters, 15 escapes a byte.
inline constexpr char kNibbleTable[] = " etnroaisdlhcfp";
inline constexpr uint8_t kNibbleEscape = 15;

}  // namespace macwrite5
