// Recognition of a MacWrite 2.2 document.  Its header says little beyond the
// version word, so a bare document bids lower than one whose MacBinary header
// names it a MacWrite file.
#include "catalogue/catalogue.h"
#include "host/bytes.h"
#include "host/macbinary.h"
#include "macwrite22/layout.h"

extern "C" int32_t macwrite_bid_22(const uint8_t *head, size_t length) {
    using namespace macwrite22;
    const long offset = kavrel::macbinary::data_offset_in_head(head, length, kMacBinaryTypeCreator);
    if (length < static_cast<size_t>(offset) + kHeaderSize) return 0;
    const uint8_t *doc = head + offset;
    if (kavrel::be16(doc) != kVersion) return 0;
    const uint16_t list_pos = kavrel::be16(doc + kParagraphListPosAt);
    if (list_pos < kHeaderSize || (list_pos & 1) != 0) return 0;
    return offset != 0 ? 100 : 50;
}
