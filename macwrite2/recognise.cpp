// Recognition of a MacWrite II document.  Its first block carries "." at
// byte 1 or 3, which a MacWrite 4.6/5 document can also show (byte 3 is the
// low byte of its paragraph count): a bare document therefore bids low, and
// not at all when its first word is a version word of the older generations.
#include "catalogue/catalogue.h"
#include "catalogue/recognition.h"
#include "host/bytes.h"
#include "host/macbinary.h"
#include "macwrite2/layout.h"

namespace macwrite {

Recognition recognise_ii(const uint8_t *head, size_t length) {
    using namespace macwrite2;
    Recognition r;
    r.offset = kavrel::macbinary::data_offset_in_head(head, length, kMacBinaryTypeCreator);
    if (length < static_cast<size_t>(r.offset) + 4) return r;
    const uint8_t *doc = head + r.offset;
    if (doc[1] != kSignature && doc[3] != kSignature) return r;
    const uint16_t word = kavrel::be16(doc);
    if (r.offset != 0) r.bid = 100;
    else if (word != 6 && word != 3) r.bid = 40;
    return r;
}

}  // namespace macwrite

extern "C" int32_t macwrite_bid_ii(const uint8_t *head, size_t length) { return macwrite::recognise_ii(head, length).bid; }
