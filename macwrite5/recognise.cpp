// Recognition of a MacWrite 4.6/5 document by its first bytes.  The version
// word alone is shared with other files (help files of other programs start
// with 6 too), so the three window records must also agree with the counts:
// each information array holds whole entries, at least as many as counted.
#include "catalogue/catalogue.h"
#include "catalogue/recognition.h"
#include "host/bytes.h"
#include "host/macbinary.h"
#include "macwrite5/layout.h"
#include "macwrite5/recover.h"

namespace {

using namespace macwrite5;

constexpr int32_t kHeaderLostBid = 20;

bool window_matches(const uint8_t *doc, int count_at, int window_at) {
    const uint32_t count = kavrel::be16(doc + count_at);
    const uint32_t length = kavrel::be16(doc + window_at + kInfoArrayLengthAt);
    const uint32_t pos = kavrel::be32(doc + window_at + kInfoArrayPosAt);
    return length >= count * kEntrySize && length % kEntrySize == 0 && pos <= kDataOffsetMask;
}

}  // namespace

namespace macwrite {

Recognition recognise_5(const uint8_t *head, size_t length) {
    Recognition r;
    r.offset = document_offset(head, length, length < kavrel::macbinary::kRecognitionHead ? length : kavrel::macbinary::kUnknownLength);
    constexpr size_t kNeeded = kMainWindowAt + kWindowSize;
    if (length < static_cast<size_t>(r.offset) + 2) return r;
    const uint8_t *doc = head + r.offset;
    if (kavrel::be16(doc + kVersionAt) != kVersion) {
        // A lost first sector leaves no version word: the paragraphs after it
        // still say what the file is, if less surely.
        if (header_lost(doc, length - static_cast<size_t>(r.offset))) r.bid = kHeaderLostBid;
        return r;
    }
    if (length < static_cast<size_t>(r.offset) + kNeeded) {
        r.reason = "version word 6, but too short for the header of a MacWrite 4.6/5 document";
    } else if (!window_matches(doc, kMainCountAt, kMainWindowAt) || !window_matches(doc, kHeaderCountAt, kHeaderWindowAt) ||
               !window_matches(doc, kFooterCountAt, kFooterWindowAt)) {
        r.reason = "version word 6, but its information arrays do not match its paragraph counts";
    } else {
        r.bid = 100;
    }
    return r;
}

}  // namespace macwrite

extern "C" int32_t macwrite_bid_5(const uint8_t *head, size_t length) { return macwrite::recognise_5(head, length).bid; }
