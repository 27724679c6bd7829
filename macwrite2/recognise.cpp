// Recognition of a MacWrite II document by its structure.  The layout the
// application writes opens with 00 2E 00 2E; the layout of in-memory record
// sizes has only a "." at byte 1 or 3, which a line of text ("1. Item",
// "A.B.") and a MacWrite 4.6/5 document (byte 3 is the low byte of its
// paragraph count) can also show.  Either is taken only when block 3 opens
// a document chain.
#include "macwrite2/recognise.h"

#include "catalogue/catalogue.h"
#include "catalogue/recognition.h"
#include "host/bytes.h"
#include "host/macbinary.h"
#include "macwrite2/disk.h"
#include "macwrite2/layout.h"

namespace macwrite2 {

namespace {

constexpr size_t kChainAt = (kDocumentChainBlock - 1) * kBlockSize;
constexpr int32_t kLongestList = 1 << 24;

// Block 3 opens the document chain with a 32-bit length (of the skipped
// section, or of the font-name table) that a document of at most 24-bit
// positions keeps below 2^24; the chain's link may be damaged.  Behind the
// on-disk signature, a copy cut inside block 3 is still a document (a
// damaged one); otherwise the block must be whole.
bool opens_document_chain(const uint8_t *doc, size_t length, bool whole, size_t block_bytes = kBlockSize) {
    if (length < kChainAt + block_bytes) return false;
    const int32_t first = static_cast<int32_t>(kavrel::be32(doc + kChainAt));
    return first >= 0 && first < kLongestList && (!whole || first < static_cast<int32_t>(length));
}

bool zeros(const uint8_t *bytes, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (bytes[i] != 0) return false;
    return true;
}

}  // namespace

Layout layout_of(const uint8_t *doc, size_t length, bool whole) {
    if (disk::has_signature(doc, length)) return opens_document_chain(doc, length, whole, 4) ? Layout::Disk : Layout::None;
    if (length >= kBlockSize && zeros(doc, kBlockSize)) return opens_document_chain(doc, length, whole) ? Layout::Lost : Layout::None;
    if (length < 4 || (doc[1] != kSignature && doc[3] != kSignature)) return Layout::None;
    const uint16_t word = kavrel::be16(doc);
    if (word == 6 || word == 3) return Layout::None;   // a MacWrite 4.6/5 version word
    return opens_document_chain(doc, length, whole) ? Layout::Memory : Layout::None;
}

}  // namespace macwrite2

namespace macwrite {

Recognition recognise_ii(const uint8_t *head, size_t length) {
    using namespace macwrite2;
    Recognition r;
    r.offset = kavrel::macbinary::data_offset_in_head(head, length, kMacBinaryTypeCreator);
    if (length < static_cast<size_t>(r.offset) + 4) return r;
    // A MacBinary header that says MW2D/MWII is the Finder's word for it.
    if (r.offset != 0) {
        r.bid = 100;
        return r;
    }
    const bool whole = length < kavrel::macbinary::kRecognitionHead;
    switch (layout_of(head, length, whole)) {
    case Layout::Disk: r.bid = 90; break;
    case Layout::Memory: r.bid = 40; break;
    default: break;
    }
    return r;
}

}  // namespace macwrite

extern "C" int32_t macwrite_bid_ii(const uint8_t *head, size_t length) { return macwrite::recognise_ii(head, length).bid; }
