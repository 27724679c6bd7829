// Recognition of a MacWrite 4.6/5 document by its first bytes.  The version
// word alone is shared with other files (help files of other programs start
// with 6 too), so the three window records must also agree with the counts:
// each information array holds whole entries, at least as many as counted.
#include "catalogue/catalogue.h"
#include "host/bytes.h"
#include "host/macbinary.h"
#include "macwrite5/layout.h"

namespace {

using namespace macwrite5;

bool window_matches(const uint8_t *doc, int count_at, int window_at) {
    const uint32_t count = kavrel::be16(doc + count_at);
    const uint32_t length = kavrel::be16(doc + window_at + kInfoArrayLengthAt);
    const uint32_t pos = kavrel::be32(doc + window_at + kInfoArrayPosAt);
    return length >= count * kEntrySize && length % kEntrySize == 0 && pos <= kDataOffsetMask;
}

}  // namespace

extern "C" int32_t macwrite_bid_5(const uint8_t *head, size_t length) {
    const long offset = kavrel::macbinary::data_offset_in_head(head, length, kMacBinaryTypeCreator);
    constexpr size_t kNeeded = kMainWindowAt + kWindowSize;
    if (length < static_cast<size_t>(offset) + kNeeded) return 0;
    const uint8_t *doc = head + offset;
    if (kavrel::be16(doc + kVersionAt) != kVersion) return 0;
    if (!window_matches(doc, kMainCountAt, kMainWindowAt) || !window_matches(doc, kHeaderCountAt, kHeaderWindowAt) ||
        !window_matches(doc, kFooterCountAt, kFooterWindowAt))
        return 0;
    return 100;
}
