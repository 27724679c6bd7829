// The MacWrite 4.6/5 and 2.2 readers hand a document to each other by its
// version word.  Each takes the number of hand-overs still allowed, so that a
// chain between the two always ends.
#pragma once

#include <cstdint>
#include <cstdio>

namespace macwrite5 {
int32_t import(std::FILE *input, std::FILE *output, int hand_overs);
}

namespace macwrite22 {
int32_t import(std::FILE *input, std::FILE *output, int hand_overs);
}
