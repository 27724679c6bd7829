// The MacWrite II file layout: 256-byte blocks linked into chains, a document
// chain with the style tables and a directory of text areas.
#pragma once

#include <cstdint>

namespace macwrite2 {

inline constexpr const char *kMacBinaryTypeCreator = "MW2DMWII";
inline constexpr long kBlockSize = 256;
inline constexpr int kBlockData = 254;         // bytes of chain data before the link
inline constexpr int kDocumentChainBlock = 3;
inline constexpr uint8_t kSignature = '.';     // at byte 1 or 3 of the first block

// Document chain.
inline constexpr int kSkippedEntrySize = 42;
inline constexpr int kCharStyleMeasureUnit = 10;
inline constexpr int kCharStyleRecordSize = 12;
inline constexpr int kParaFormatMeasureUnit = 202;
inline constexpr int kParaFormatRecordSize = 284;
inline constexpr int kMaxCharStyles = 4095;    // 16-bit allocation of 16-byte entries
inline constexpr int kMaxParaFormats = 481;    // 16-bit allocation of 136-byte entries

// Directory.
inline constexpr int kGroupHeaderSize = 10;
inline constexpr int kAreaRecordSize = 80;
inline constexpr int kAreaFirstBlockAt = 28;
inline constexpr int kAreaFlagAt = 76;
inline constexpr int16_t kKindNextGroup = 2;

// Text chains.
inline constexpr int kTextBlockRefSize = 4;
inline constexpr int kStyleRunSize = 8;

// Bytes of the text with a meaning of their own.
inline constexpr uint8_t kIgnored1 = 2, kIgnored2 = 23;
inline constexpr uint8_t kNoteTextStart = 3;
inline constexpr uint8_t kNoteCall = 5;

}  // namespace macwrite2
