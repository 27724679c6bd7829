// The MacWrite 2.2 file layout: a 20-byte header, the printer record, three
// window records, an 8-byte entry per paragraph and then the paragraph
// records, main text first, then the page header's, then the page footer's.
// Every integer is big-endian; offsets count from the document header.
#pragma once

#include <cstdint>

namespace macwrite22 {

inline constexpr uint16_t kVersion = 3;
inline constexpr uint16_t kVersion5 = 6;  // the newer generation's version word
inline constexpr const char *kMacBinaryTypeCreator = "WORDMACA";

inline constexpr int kHeaderSize = 6;     // what a document needs to be read at all
inline constexpr int kParagraphListPosAt = 2;
inline constexpr int kParagraphCountAt = 4;   // of the main text
inline constexpr int kHeaderCountAt = 6;
inline constexpr int kFooterCountAt = 8;
inline constexpr int kTitlePageAt = 10;    // non-zero: the first page is a title page
inline constexpr int kFirstPageAt = 18;    // the number the first page is printed with
inline constexpr int kPrintRecordAt = 20;

// Window records, stored footer, header, main, after the 20-byte header and
// the 120-byte printer record.
inline constexpr int kFooterWindowAt = 140;
inline constexpr int kHeaderWindowAt = 174;
inline constexpr int kWindowsEnd = 242;
inline constexpr int kFieldPairsAt = 12;   // in a window record: page number, date, time

// One 8-byte entry per paragraph, in record order, follows the windows.
inline constexpr int kEntriesAt = kWindowsEnd;
inline constexpr int kEntrySize = 8;
inline constexpr int kEntryTopAt = 2;

// Paragraph records: a kind word, the length of what follows, then a text
// paragraph's data (text length, text, format runs, line heights) or a
// ruler in the newer generation's 34-byte layout.
inline constexpr int kRecordHeadSize = 6;
inline constexpr int kRecordKindAt = 0;
inline constexpr int kRecordTextLengthAt = 4;
inline constexpr int kRecordRulerAt = 4;
inline constexpr int kSkippedRecordBody = 32;  // after the head of a ruler record

}  // namespace macwrite22
