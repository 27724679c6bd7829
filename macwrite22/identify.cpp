// Identification of a MacWrite 2.2 document: the counts of its header (those
// of the page header and footer stand past the six bytes every document has).
#include <cstdio>

#include "catalogue/describe.h"
#include "host/bytes.h"
#include "macwrite22/layout.h"

#include "macwrite5/recover.h"
#include "macwrite22/recover.h"

namespace macwrite22 {

void describe(std::FILE *in, long offset, MacWriteIdentity &id) {
    uint8_t header[kFooterCountAt + 2] = {};
    std::fseek(in, offset, SEEK_SET);
    const size_t got = std::fread(header, 1, sizeof header, in);
    if (got < static_cast<size_t>(kHeaderSize)) return;
    id.version = kavrel::be16(header);
    id.main_paragraphs = kavrel::be16(header + kParagraphCountAt);
    if (got == sizeof header) {
        id.header_paragraphs = kavrel::be16(header + kHeaderCountAt);
        id.footer_paragraphs = kavrel::be16(header + kFooterCountAt);
    }
    id.compressed = 0;  // the generation has no compressed text
    if (got < static_cast<size_t>(kHeaderSize)) return;
    const size_t total = static_cast<size_t>(id.main_paragraphs) + (got == sizeof header ? id.header_paragraphs + id.footer_paragraphs : 0);
    const Survey damage = survey(in, offset, kavrel::be16(header + kParagraphListPosAt), total);
    if (damage.damaged) {
        id.damaged = 1;
        std::snprintf(id.damage, sizeof id.damage, "%s", damage.summary.c_str());
    }
}

}  // namespace macwrite22
