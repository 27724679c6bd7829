// Page and paragraph geometry: the page insert and the indent, spacing and
// line-height tags.
#include <cstdint>

#include "host/kavrel.h"
#include "host/stream_writer.h"

namespace {

namespace code = kavrel::code;

constexpr int32_t kGeometryCount = KAVREL_GEOMETRY_LINE + 1;

uint16_t clamp_unsigned(int32_t v) { return static_cast<uint16_t>(v < 0 ? 0 : v > 0xFFFF ? 0xFFFF : v); }
int16_t clamp_signed(int32_t v) { return static_cast<int16_t>(v < -0x8000 ? -0x8000 : v > 0x7FFF ? 0x7FFF : v); }

}  // namespace

extern "C" {

void pose_page(const KavrelPage *page, FILE *out) {
    if (page == nullptr || out == nullptr) return;
    const uint16_t words[code::kPageInsertColumnWords] = {
        clamp_unsigned(page->width),  clamp_unsigned(page->height), clamp_unsigned(page->top),
        clamp_unsigned(page->left),   clamp_unsigned(page->bottom), clamp_unsigned(page->right),
        static_cast<uint16_t>(clamp_signed(page->first_page)),
        static_cast<uint16_t>(page->title_page ? code::kPageTitle : 0),
        clamp_unsigned(page->header_height), clamp_unsigned(page->footer_height),
        clamp_unsigned(page->columns), clamp_unsigned(page->column_gap)};
    // One column keeps the insert as it always was.
    const int count = page->columns > 1 ? code::kPageInsertColumnWords : code::kPageInsertWords;
    uint8_t body[2 * code::kPageInsertColumnWords];
    for (int i = 0; i < count; ++i) {
        body[2 * i] = static_cast<uint8_t>(words[i] >> 8);
        body[2 * i + 1] = static_cast<uint8_t>(words[i]);
    }
    kavrel::stream::put_insert(out, code::kPageInsert, body, 2 * static_cast<size_t>(count));
}

void change_geometry(ParaFormat *pf, int32_t which, int32_t twips, FILE *out) {
    if (pf == nullptr || which < 0 || which >= kGeometryCount) return;
    const int16_t v = clamp_signed(twips);
    int32_t &written = pf->host_written_geometry[which];
    if (written == v) return;
    const auto u = static_cast<uint16_t>(v);
    kavrel::stream::put_tag(out, static_cast<uint8_t>(code::kFirstGeometryCode + which), static_cast<uint8_t>(u >> 8),
                            static_cast<uint8_t>(u));
    written = v;
}

}  // extern "C"
