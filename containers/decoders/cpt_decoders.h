// Compact Pro's two methods, streaming over a fork as StuffIt's do (the
// same ByteInput and Decoder): its run-length code, applied to every fork,
// and its LZSS with Huffman codes, applied before it where a fork's flag says.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "containers/decoders/sit_decoders.h"

namespace containers::cpt {

// The run-length code over `inner`'s output: 0x81 0x82 N repeats the byte
// before it N-1 times more, 0x81 0x82 0x00 stands for the two bytes.
std::unique_ptr<sit::Decoder> rle_decoder(std::unique_ptr<sit::Decoder> inner);

// LZSS over an 8 KiB window with three Huffman codes (literals, lengths,
// the offset's high bits), in blocks that carry their codes.
std::unique_ptr<sit::Decoder> lzh_decoder(sit::ByteInput input);

// The CRC-32 Compact Pro stores (polynomial 0xEDB88320, initial all ones)
// continued from `crc` over `n` bytes.  Archives keep it without the final
// inversion that zip's CRC-32 applies, for files and for the directory alike.
uint32_t crc32(uint32_t crc, const uint8_t *data, size_t n);
inline constexpr uint32_t kCrcStart = 0xFFFFFFFFu;

}  // namespace containers::cpt
