// An NDIF image from the fuzzer's bytes: the first two bytes give the
// length of the resource fork that follows them, the rest is the data fork.
#include <vector>

#include "containers/formats.h"
#include "containers/source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using namespace containers;
    if (size < 2) return 0;
    const size_t split = std::min<size_t>(size - 2, size_t{data[0]} << 8 | data[1]);
    std::shared_ptr<const Source> resource = bytes(std::vector<uint8_t>(data + 2, data + 2 + split));
    std::shared_ptr<const Source> fork = bytes(std::vector<uint8_t>(data + 2 + split, data + size));
    try {
        if (!is_ndif(*resource)) return 0;
        auto container = open_ndif(fork, resource);
        Member member;
        std::vector<uint8_t> buffer(1 << 16);
        while (container->next(member)) {
            if (!member.problem.empty()) continue;
            try {
                auto f = container->data();
                for (uint64_t at = 0; at < f->size();) {
                    const size_t got = f->read_at(at, buffer.data(), buffer.size());
                    if (got == 0) break;
                    at += got;
                }
            } catch (const Error &) {
            }
        }
    } catch (const Error &) {
    }
    return 0;
}
