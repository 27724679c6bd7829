// The export character tables: internal character -> Macintosh byte, with the
// font that shows it.  Built once from the import tables, so both directions
// always agree; immutable after construction.
#include <array>

#include "host/kavrel.h"

namespace {

constexpr uint16_t kQuestionMark = 0x003F;  // what no Mac font can show becomes
constexpr uint16_t kSymbolSelector = 0x0100;

struct ExportTables {
    std::array<std::array<uint16_t, 256>, 256> by_set{};
    std::array<const uint16_t *, 256> pointers{};

    ExportTables() {
        for (auto &table : by_set) table.fill(kQuestionMark);
        // Standard font first, so a character that both fonts have stays in it.
        for (int b = 255; b >= 0; --b) place(SYMBOL2INT[b], kSymbolSelector | b, true);
        for (int b = 255; b >= 0; --b) place(MAC2INT[b], static_cast<uint16_t>(b), false);
        for (int s = 0; s < 256; ++s) pointers[static_cast<size_t>((s - 1) & 0xFF)] = by_set[s].data();
    }

    void place(uint16_t ch, uint16_t entry, bool symbol) {
        if (ch == 0xFFFD) return;
        if (symbol && ch < 0x80) return;   // ASCII stays in the standard font
        by_set[ch >> 8][ch & 0xFF] = entry;
    }
};

const ExportTables &tables() {
    static const ExportTables instance;
    return instance;
}

}  // namespace

extern "C" const uint16_t *const *chargement_dpolice(int32_t which) {
    (void)which;  // 2 is the only kind of table there is
    return tables().pointers.data();
}
