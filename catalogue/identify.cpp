// macwrite_identify: the generation that bids highest for a file's first
// bytes describes it; a file nobody bids for gets the reason of the one that
// came closest.
#include "catalogue/identify.h"

#include <cstdio>
#include <cstring>

#include "catalogue/boundary.h"
#include "catalogue/describe.h"
#include "catalogue/recognition.h"
#include "host/bytes.h"
#include "host/macbinary.h"

namespace {

using macwrite::Recognition;

void set_reason(MacWriteIdentity &id, const char *text) {
    std::snprintf(id.reason, sizeof id.reason, "%s", text);
}

void explain_refusal(MacWriteIdentity &id, const uint8_t *head, size_t length, const Recognition (&r)[3]) {
    for (const Recognition &one : r)
        if (one.reason != nullptr) return set_reason(id, one.reason);
    if (length < 6) {
        std::snprintf(id.reason, sizeof id.reason, "too short: %zu bytes", length);
        return;
    }
    const uint8_t *doc = head + r[1].offset;
    std::snprintf(id.reason, sizeof id.reason,
                  "first word 0x%04X is no MacWrite version (6 or 3), and no MacWrite II document chain at block 3",
                  kavrel::be16(doc));
}

int32_t identify(std::FILE *input, MacWriteIdentity &id) {
    std::memset(&id, 0, sizeof id);
    id.main_paragraphs = id.header_paragraphs = id.footer_paragraphs = id.notes = id.compressed = id.pictures = -1;
    uint8_t head[kavrel::macbinary::kRecognitionHead];
    std::rewind(input);
    const size_t length = std::fread(head, 1, sizeof head, input);
    const Recognition r[3] = {macwrite::recognise_ii(head, length), macwrite::recognise_5(head, length),
                              macwrite::recognise_22(head, length)};
    const int32_t generations[3] = {MACWRITE_II, MACWRITE_5, MACWRITE_22};
    int best = -1;
    for (int i = 0; i < 3; ++i)
        if (r[i].bid > 0 && (best < 0 || r[i].bid > r[best].bid)) best = i;
    if (best < 0) {
        explain_refusal(id, head, length, r);
        return MACWRITE_NONE;
    }
    id.generation = generations[best];
    id.macbinary = static_cast<int32_t>(r[best].offset);
    switch (id.generation) {
    case MACWRITE_II: macwrite2::describe(input, r[best].offset, id); break;
    case MACWRITE_5: macwrite5::describe(input, r[best].offset, id); break;
    default: macwrite22::describe(input, r[best].offset, id); break;
    }
    return id.generation;
}

}  // namespace

extern "C" int32_t macwrite_identify(FILE *input, MacWriteIdentity *identity) {
    return macwrite::at_boundary([&] { return identify(input, *identity); });
}
