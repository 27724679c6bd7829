// Identification of a MacWrite 4.6/5 document: the counts of its header and
// what its information entries say (compressed text, pictures).
#include <cstdio>
#include <vector>

#include "catalogue/describe.h"
#include "host/bytes.h"
#include "host/conversion.h"
#include "macwrite5/layout.h"
#include "macwrite5/recover.h"

namespace macwrite5 {

namespace {

struct Tally {
    int32_t compressed = 0, pictures = 0;
};

// Reads an area's entries, as many as its count names and its array holds
// within the file.
void tally_area(std::FILE *in, long offset, const uint8_t *header, int count_at, int window_at, Tally &tally) {
    const uint8_t *window = header + window_at;
    const uint32_t count = kavrel::be16(header + count_at);
    const uint32_t entries = std::min<uint32_t>(count, kavrel::be16(window + kInfoArrayLengthAt) / kEntrySize);
    std::vector<uint8_t> array(static_cast<size_t>(entries) * kEntrySize);
    if (array.empty() || std::fseek(in, offset + static_cast<long>(kavrel::be32(window + kInfoArrayPosAt)), SEEK_SET) != 0)
        return;
    array.resize(std::fread(array.data(), 1, array.size(), in) / kEntrySize * kEntrySize);
    for (size_t at = 0; at < array.size(); at += kEntrySize) {
        const uint8_t *entry = array.data() + at;
        if (kavrel::be16s(entry + kHeightAt) < 0) {
            if (kavrel::be16(entry + kDataLengthAt) != kPageBreakLength) ++tally.pictures;
        } else if (entry[kDataWordAt] & kFlagCompressed) {
            ++tally.compressed;
        }
    }
}

}  // namespace

void describe(std::FILE *in, long offset, MacWriteIdentity &id) {
    uint8_t header[kHeaderImageSize] = {};
    std::fseek(in, offset, SEEK_SET);
    if (std::fread(header, 1, sizeof header, in) < static_cast<size_t>(kMainWindowAt + kWindowSize)) return;
    id.version = kavrel::be16(header + kVersionAt);
    id.main_paragraphs = kavrel::be16(header + kMainCountAt);
    id.header_paragraphs = kavrel::be16(header + kHeaderCountAt);
    id.footer_paragraphs = kavrel::be16(header + kFooterCountAt);
    Tally tally;
    tally_area(in, offset, header, kMainCountAt, kMainWindowAt, tally);
    tally_area(in, offset, header, kHeaderCountAt, kHeaderWindowAt, tally);
    tally_area(in, offset, header, kFooterCountAt, kFooterWindowAt, tally);
    id.compressed = tally.compressed;
    id.pictures = tally.pictures;
    const Survey damage = survey(in, offset);
    if (damage.damaged) {
        id.damaged = 1;
        std::snprintf(id.damage, sizeof id.damage, "%s", damage_summary(damage).c_str());
    }
}

}  // namespace macwrite5
