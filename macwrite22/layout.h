// The MacWrite 2.2 file layout: a 6-byte header and a flat list of paragraph
// records.  Every integer is big-endian.
#pragma once

#include <cstdint>

namespace macwrite22 {

inline constexpr uint16_t kVersion = 3;
inline constexpr uint16_t kVersion5 = 6;  // the newer generation's version word
inline constexpr const char *kMacBinaryTypeCreator = "WORDMACA";

inline constexpr int kHeaderSize = 6;
inline constexpr int kParagraphListPosAt = 2;
inline constexpr int kParagraphCountAt = 4;

inline constexpr int kRecordHeadSize = 6;
inline constexpr int kRecordKindAt = 0;
inline constexpr int kRecordTextLengthAt = 4;
inline constexpr int kSkippedRecordBody = 32;  // body of a record of kind 0

}  // namespace macwrite22
