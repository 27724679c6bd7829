// The MacWrite II import.  Until its reader lands, it refuses every document
// as not its own, after honouring init_format like every converter.
#include "catalogue/catalogue.h"
#include "host/kavrel.h"

extern "C" int32_t import_macwrite_ii(FILE *input, FILE *output) {
    (void)output;
    CharAttributes ca;
    ParaFormat pf;
    TabColumns tc;
    if (init_format(input, &ca, &pf, &tc) == -2) return -2;
    return -1;
}
