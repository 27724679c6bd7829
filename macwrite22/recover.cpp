// Recovery of a damaged MacWrite 2.2 document: the checks of each record and
// the search for the next record that holds together.
#include "macwrite22/recover.h"

#include <algorithm>

#include "host/bytes.h"
#include "host/stream_codes.h"
#include "macwrite22/layout.h"
#include "macwrite5/document.h"
#include "macwrite5/layout.h"

namespace macwrite22 {

namespace {

using kavrel::be16;
using macwrite5::Document;

constexpr long kRulerRecord = kRecordHeadSize + kSkippedRecordBody;
constexpr int kLengthAt = 2;   // of a record: the length of what follows the head's first four bytes

// How far one record reads, -1 when it runs past the end of the document.
long record_end(const Document &doc, long at) {
    const long size = static_cast<long>(doc.size());
    if (at + kRecordHeadSize > size) return -1;
    if (be16(&doc[at + kRecordKindAt]) == 0) return at + kRulerRecord <= size ? at + kRulerRecord : -1;
    long q = at + kRecordHeadSize + be16(&doc[at + kRecordTextLengthAt]);
    q += q & 1;
    for (int block = 0; block < 2; ++block) {
        if (q + 2 > size) return -1;
        const uint16_t length = be16(&doc[q]);
        q += 2 + length + (block == 1 ? (length & 1) : 0);
    }
    return q <= size ? q : -1;
}

bool has_zeros(const uint8_t *from, const uint8_t *to, size_t run) {
    size_t zeros = 0;
    for (; from < to; ++from)
        if ((zeros = *from == 0 ? zeros + 1 : 0) == run) return true;
    return false;
}

// A record as a writer stores it.  Writers that leave the length word 0 are
// taken at their word; a ruler or text of zeros is a lost region.
bool record_sound(const Document &doc, long at, long end) {
    const uint16_t length = be16(&doc[at + kLengthAt]);
    if (length != 0 && length != end - at - 4) return false;
    if (be16(&doc[at + kRecordKindAt]) == 0)
        return !std::all_of(&doc[at + kRecordRulerAt], &doc[at] + kRulerRecord, [](uint8_t b) { return b == 0; });
    const uint8_t *text = &doc[at + kRecordHeadSize];
    return !has_zeros(text, text + be16(&doc[at + kRecordTextLengthAt]), 4);
}

// A record that holds together by its own structure, where the walk takes up
// again: its length word agrees, a ruler's fields are in range, a text is
// printable with one return at most, at its end, and its runs are whole.
bool record_holds(const Document &doc, long at) {
    const long end = record_end(doc, at);
    if (end < 0 || be16(&doc[at + kLengthAt]) != end - at - 4) return false;
    const uint8_t *head = &doc[at];
    if (be16(head + kRecordKindAt) == 0) {
        const uint8_t *r = head + kRecordRulerAt;
        const int16_t left = kavrel::be16s(r + macwrite5::kLeftMarginAt), right = kavrel::be16s(r + macwrite5::kRightMarginAt);
        return r[macwrite5::kJustificationAt] <= macwrite5::kFull && r[macwrite5::kTabCountAt] <= macwrite5::kMaxTabs &&
               left >= 0 && left < right && right <= 1440;
    }
    const uint16_t count = be16(head + kRecordTextLengthAt);
    const uint8_t *text = head + kRecordHeadSize;
    for (uint16_t i = 0; i < count; ++i) {
        const uint8_t c = text[i];
        if (c == kavrel::code::kParagraphEnd ? i + 1 != count : ((c < 0x20 && c != kavrel::code::kTab) || c == 0x7F)) return false;
    }
    long q = at + kRecordHeadSize + count;
    q += q & 1;
    return be16(&doc[q]) % macwrite5::kRunSize == 0;
}

long next_record(const Document &doc, long from) {
    for (long at = from + (from & 1); at + kRecordHeadSize <= static_cast<long>(doc.size()); at += 2)
        if (record_holds(doc, at)) return at;
    return -1;
}

// The most bytes that the checks of one record read from its start: its
// head, a text of up to 65,535 bytes, the pad, the first block of up to
// 65,535 bytes and the length word of the second.
constexpr long kRecordReach = kRecordHeadSize + 0xFFFF + 1 + 2 + 0xFFFF + 2;

// The walk of survey() through the input, each record within one window,
// so that the document is read once and never held whole: whether every
// record holds.
bool sound(macwrite5::DocumentWindows &windows, long at, size_t count) {
    Document view;
    for (size_t n = 0; n < count && at >= 0 && at < windows.size(); ++n) {
        if (!windows.window(at, view)) return false;
        const long end = record_end(view, at);
        if (end < 0 || !record_sound(view, at, end)) return false;
        at = end;
    }
    return true;
}

// The walk over the whole document: the records that hold, stepping over
// those that do not, and what was lost.
Survey walk(const Document &doc, long list_pos, size_t count) {
    Survey s;
    bool cut = false, lost = false;
    long at = list_pos;
    while (s.records.size() < count && at >= 0 && at < static_cast<long>(doc.size())) {
        const long end = record_end(doc, at);
        if (end >= 0 && record_sound(doc, at, end)) {
            s.records.push_back({at, be16(&doc[at + kRecordKindAt]) == 0});
            at = end;
            continue;
        }
        // A record that ends past the file may be the last one of a cut
        // file, or a lost region read as a length: the walk goes on at the
        // next record that holds, if any.
        s.damaged = true;
        (end < 0 ? cut : lost) = true;
        // The record the file ends in keeps its text as far as it goes.
        if (end < 0 && at + kRecordHeadSize <= static_cast<long>(doc.size()) && next_record(doc, at + 2) < 0) {
            s.records.push_back({at, be16(&doc[at + kRecordKindAt]) == 0});
            break;
        }
        at = next_record(doc, at + 2);
    }
    if (!s.damaged) return s;
    s.from_the_end = !s.records.empty() && record_end(doc, s.records.back().start) >= static_cast<long>(doc.size()) - 1;
    s.summary = "recovered " + std::to_string(s.records.size()) + " of about " + std::to_string(count) + " paragraphs";
    if (lost) s.summary += "; part of the file could not be read";
    if (cut && at < 0) s.summary += "; the file ends inside a paragraph";
    return s;
}

}  // namespace

Survey survey(std::FILE *in, long offset, long list_pos, size_t count) {
    macwrite5::DocumentWindows windows(in, offset, kRecordReach);
    if (sound(windows, list_pos, count)) return Survey{};
    const std::vector<uint8_t> all = macwrite5::load_document(in, offset);
    return walk(Document(all), list_pos, count);
}

}  // namespace macwrite22
