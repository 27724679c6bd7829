// What each generation's index says of a recognised document, for
// identification: each reads only the counts and entries it needs.
#pragma once

#include <cstdio>

#include "catalogue/identify.h"

namespace macwrite5 {
void describe(std::FILE *in, long offset, MacWriteIdentity &id);
}

namespace macwrite22 {
void describe(std::FILE *in, long offset, MacWriteIdentity &id);
}

namespace macwrite2 {
void describe(std::FILE *in, long offset, MacWriteIdentity &id);
}
