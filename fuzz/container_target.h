// Shared body of the container fuzz targets: any bytes opened as one
// container format, walked to the end with every member's data read and its
// output path made; a path that could leave the output folder aborts.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "containers/formats.h"
#include "containers/names.h"
#include "containers/source.h"
#include "containers/walk.h"

inline int fuzz_container(const containers::Format &format, const uint8_t *data, size_t size) {
    using namespace containers;
    std::shared_ptr<const Source> source = bytes(std::vector<uint8_t>(data, data + size));
    Walker walker(source, format);
    std::vector<uint8_t> block(65536);
    for (Leaf leaf; walker.next(leaf);) {
        std::vector<std::string> changes;
        const std::string path = safe_path(leaf.path, changes);
        if (!path.empty() && path[0] == '/') std::abort();
        for (const std::string &element : split_archive_path(path))
            if (element == ".." || element.find('\0') != std::string::npos) std::abort();
        if (leaf.data == nullptr) continue;
        for (uint64_t at = 0; at < leaf.data->size();) {
            const size_t n = leaf.data->read_at(at, block.data(), block.size());
            if (n == 0) break;
            at += n;
        }
    }
    return 0;
}
