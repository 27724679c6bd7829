// The MacWrite 4.6/5 export.  Until its writer lands, it refuses every input,
// after honouring init_format like every converter.
#include "catalogue/catalogue.h"
#include "host/kavrel.h"

extern "C" int32_t export_macwrite_5(FILE *input, FILE *output) {
    (void)output;
    CharAttributes ca;
    ParaFormat pf;
    TabColumns tc;
    if (init_format(input, &ca, &pf, &tc) == -2) return -2;
    return -1;
}
