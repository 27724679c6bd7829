// Running converters and renderers on byte strings in tests.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "host/scratch.h"

namespace testing_support {

using Bytes = std::string;

inline std::FILE *stream_of(const Bytes &bytes) {
    std::FILE *f = kavrel::open_scratch_stream();
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::rewind(f);
    return f;
}

inline Bytes contents(std::FILE *f) {
    std::rewind(f);
    Bytes out;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out.append(buffer, n);
    return out;
}

struct Converted {
    int32_t result;
    Bytes output;
};

inline Converted convert(ConverterFn fn, const Bytes &input) {
    std::FILE *in = stream_of(input);
    std::FILE *out = kavrel::open_scratch_stream();
    const int32_t rc = fn(in, out);
    Converted c{rc, contents(out)};
    std::fclose(in);
    std::fclose(out);
    return c;
}

inline Bytes read_file(const std::string &path) {
    Bytes out;
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return out;
    out = contents(f);
    std::fclose(f);
    return out;
}

}  // namespace testing_support
