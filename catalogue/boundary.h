// The converters' C entry points: a C host can receive nothing from C++ but
// a result, so running out of memory becomes one.
#pragma once

#include <new>

#include "catalogue/catalogue.h"

namespace macwrite {

template <typename Convert>
int32_t at_boundary(Convert convert) noexcept {
    try {
        return convert();
    } catch (const std::bad_alloc &) {
        return kOutOfMemory;
    }
}

}  // namespace macwrite
