// The compression methods of the disk image formats, one file each, on the
// same streaming interface as StuffIt's: a decoder reads a compressed chunk
// through a ByteInput and gives its bytes on demand.  Each keeps a fixed
// amount of state (a window, a library's stream), and the caller stops asking
// at the size the image declares, so a chunk that decodes to more than it
// claims costs nothing beyond the claim.
#pragma once

#include <memory>

#include "containers/decoders/sit_decoders.h"

namespace containers::decoders {

using ByteInput = sit::ByteInput;
using Decoder = sit::Decoder;

// Apple Data Compression (UDIF, NDIF): an LZ77 of literal runs and copies
// from a 64 KB window.
std::unique_ptr<Decoder> adc_decoder(ByteInput input);
// DART's "fast" compression: big-endian 16-bit words, runs and literals.
std::unique_ptr<Decoder> dart_rle_decoder(ByteInput input);
// DART's "best" compression: LZSS over a 4 KB window with an adaptive
// Huffman code (the LZHUF scheme).
std::unique_ptr<Decoder> lzhuf_decoder(ByteInput input);
// LZFSE (UDIF): entropy-coded LZ77 blocks, LZVN blocks and stored ones, with
// matches over a 256 KiB window.
std::unique_ptr<Decoder> lzfse_decoder(ByteInput input);

#ifdef MWCONV_HAVE_UDIF
// Through the libraries that do them: zlib, libbz2, liblzma.
std::unique_ptr<Decoder> zlib_decoder(ByteInput input);
std::unique_ptr<Decoder> bzip2_decoder(ByteInput input);
std::unique_ptr<Decoder> lzma_decoder(ByteInput input);
#endif

}  // namespace containers::decoders
