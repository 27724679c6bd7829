// The one entry of the service module, which mwconv loads by name for
// `mwconv serve` (C linkage, so that the name is the symbol).
#pragma once

namespace mwconv::serve {

using EntryFn = int (*)(int argc, const char *const *argv);
inline constexpr const char *kEntryName = "mwconv_serve";

}  // namespace mwconv::serve

extern "C" int mwconv_serve(int argc, const char *const *argv);
