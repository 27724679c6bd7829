// Identification of a MacWrite 2.2 document: the counts of its header.
#include "catalogue/describe.h"
#include "host/bytes.h"
#include "macwrite22/layout.h"

namespace macwrite22 {

void describe(std::FILE *in, long offset, MacWriteIdentity &id) {
    uint8_t header[kHeaderSize] = {};
    std::fseek(in, offset, SEEK_SET);
    if (std::fread(header, 1, sizeof header, in) != sizeof header) return;
    id.version = kavrel::be16(header);
    id.main_paragraphs = kavrel::be16(header + kParagraphCountAt);
    id.compressed = 0;  // the generation has no compressed text
}

}  // namespace macwrite22
