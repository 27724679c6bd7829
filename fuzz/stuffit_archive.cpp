// The StuffIt archive reader over the fuzzer's bytes: every member listed,
// both forks of each read (up to a megabyte), every error a graded Error.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "containers/formats.h"
#include "containers/source.h"
#include "containers/stuffit.h"

namespace {

void drain(const containers::Source &source) {
    std::vector<uint8_t> buffer(64 * 1024);
    for (uint64_t at = 0; at < source.size() && at < (1u << 20);) {
        const size_t got = source.read_at(at, buffer.data(), buffer.size());
        if (got == 0) break;
        at += got;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::shared_ptr<const containers::Source> source = containers::bytes(std::vector<uint8_t>(data, data + size));
    containers::stuffit_format().bid(*source, data, size < containers::kHead ? size : containers::kHead);
    try {
        auto archive = containers::open_stuffit(source);
        containers::Member member;
        for (int i = 0; i < 10000 && archive->next(member); ++i) {
            try {
                drain(*archive->data());
            } catch (const containers::Error &) {
            }
            try {
                drain(*archive->resource());
            } catch (const containers::Error &) {
            }
        }
    } catch (const containers::Error &) {
    }
    return 0;
}
