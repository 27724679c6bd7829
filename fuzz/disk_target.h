// Shared body of the disk image fuzz targets: any bytes bid on and opened by
// one format, every member listed and its data fork read to the end, or to
// 64 MiB: a few bytes can claim a disk of terabytes, mostly gaps that read as
// zeros, which a walk refuses by its budget and no reader needs read whole.
#pragma once

#include <cstdint>
#include <vector>

#include "containers/formats.h"
#include "containers/source.h"

inline int fuzz_disk_format(const containers::Format &format, const uint8_t *data, size_t size) {
    using namespace containers;
    std::shared_ptr<const Source> source = bytes(std::vector<uint8_t>(data, data + size));
    format.bid(*source, data, size < kHead ? size : kHead);
    try {
        auto container = format.open(source);
        Member member;
        std::vector<uint8_t> buffer(1 << 16);
        while (container->next(member)) {
            if (!member.problem.empty()) continue;
            try {
                auto fork = container->data();
                constexpr uint64_t kMostRead = uint64_t{64} << 20;
                for (uint64_t at = 0; at < fork->size() && at < kMostRead;) {
                    const size_t got = fork->read_at(at, buffer.data(), buffer.size());
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
