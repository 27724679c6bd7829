// Recognition of a MacWrite 2.2 document.  Its header says little beyond the
// version word, so a bare document bids lower than one whose MacBinary header
// names it a MacWrite file.
#include "catalogue/catalogue.h"
#include "catalogue/recognition.h"
#include "host/bytes.h"
#include "host/macbinary.h"
#include "macwrite22/layout.h"
#include "macwrite5/recover.h"

namespace macwrite {

Recognition recognise_22(const uint8_t *head, size_t length) {
    using namespace macwrite22;
    Recognition r;
    r.offset = macwrite5::document_offset(head, length,
                                          length < kavrel::macbinary::kRecognitionHead ? length : kavrel::macbinary::kUnknownLength);
    if (length < static_cast<size_t>(r.offset) + 2) return r;
    const uint8_t *doc = head + r.offset;
    if (kavrel::be16(doc) != kVersion) return r;
    if (length < static_cast<size_t>(r.offset) + kHeaderSize) {
        r.reason = "version word 3, but too short for the header of a MacWrite 2.2 document";
        return r;
    }
    const uint16_t list_pos = kavrel::be16(doc + kParagraphListPosAt);
    if (list_pos < kHeaderSize || (list_pos & 1) != 0) {
        r.reason = "version word 3, but its paragraph list lies inside its header or at an odd offset";
        return r;
    }
    r.bid = r.offset != 0 ? 100 : 50;
    return r;
}

}  // namespace macwrite

extern "C" int32_t macwrite_bid_22(const uint8_t *head, size_t length) { return macwrite::recognise_22(head, length).bid; }
