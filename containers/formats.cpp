#include "containers/formats.h"

#include <algorithm>
#include <vector>

namespace containers {

namespace {

using Accessor = const Format &(*)();

// Every format recognise() asks.  At equal bids the earlier wins, so
// formats with a signature at a fixed place come first and libarchive,
// whose bids are the broadest, last.
constexpr Accessor kRegistry[] = {
    &macbinary_format,
    &binhex_format,
    &applesingle_format,
    &diskcopy_format,
    &dart_format,
#ifdef MWCONV_HAVE_UDIF
    &udif_format,
#endif
    &partition_map_format,
    &mfs_format,
    &hfs_format,
    &hfsplus_format,
    &gpt_format,
    &refused_format,
    &stuffit_format,
    &compact_pro_format,
#ifdef MWCONV_HAVE_LIBARCHIVE
    &libarchive_format,
#endif
};

}  // namespace

const Format *recognise(const Source &source) {
    std::vector<uint8_t> head(static_cast<size_t>(std::min<uint64_t>(kHead, source.size())));
    head.resize(source.read_at(0, head.data(), head.size()));
    const Format *best = nullptr;
    int best_bid = 0;
    for (Accessor format : kRegistry) {
        const int bid = format().bid(source, head.data(), head.size());
        if (bid > best_bid) {
            best_bid = bid;
            best = &format();
        }
    }
    return best;
}

bool is_wrapper(const Format &format) {
    return &format == &macbinary_format() || &format == &binhex_format() || &format == &applesingle_format();
}

}  // namespace containers
