// Running converters and renderers on byte strings in tests.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "host/scratch.h"
#include "host/stream_codes.h"
#include "host/stream_reader.h"

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

// An import's stream split in two: the page insert, the paragraph
// geometry tags (indents, spacing, line heights) and the recorded layout of
// each paragraph (LAID) in `geometry`, everything
// else in `output`, so that a test of the text and its styles says nothing
// of the page.
struct Imported {
    int32_t result;
    Bytes output;
    Bytes geometry;
};

inline bool is_laid(const kavrel::stream::Event &ev) {
    namespace code = kavrel::code;
    return ev.kind == kavrel::stream::EventKind::Insert &&
           ev.insert.compare(0, code::kInsertKindSize, code::kLaidInsert, code::kInsertKindSize) == 0;
}

inline bool is_geometry(const kavrel::stream::Event &ev) {
    namespace code = kavrel::code;
    if (ev.kind == kavrel::stream::EventKind::Insert)
        return is_laid(ev) ||
               ev.insert.compare(0, code::kInsertKindSize, code::kPageInsert, code::kInsertKindSize) == 0 ||
               ev.insert.compare(0, code::kInsertKindSize, code::kTabsInsert, code::kInsertKindSize) == 0;
    return ev.kind == kavrel::stream::EventKind::Tag && ev.code >= code::kFirstGeometryCode &&
           ev.code <= code::kLastGeometryCode;
}

inline Imported split_geometry(int32_t result, const Bytes &stream) {
    Imported i{result, {}, {}};
    std::FILE *in = stream_of(stream);
    kavrel::stream::Reader reader(in);
    kavrel::stream::Event ev;
    long start = 0;
    while (reader.next(ev)) {
        const long end = reader.offset();
        (is_geometry(ev) ? i.geometry : i.output) += stream.substr(static_cast<size_t>(start), static_cast<size_t>(end - start));
        start = end;
    }
    std::fclose(in);
    return i;
}

// The stream without the layout MacWrite recorded (LAID inserts).
inline Bytes without_laid(const Bytes &stream) {
    std::FILE *in = stream_of(stream);
    kavrel::stream::Reader reader(in);
    kavrel::stream::Event ev;
    Bytes out;
    long start = 0;
    while (reader.next(ev)) {
        const long end = reader.offset();
        if (!is_laid(ev)) out += stream.substr(static_cast<size_t>(start), static_cast<size_t>(end - start));
        start = end;
    }
    std::fclose(in);
    return out;
}

inline Imported convert_import(ConverterFn fn, const Bytes &input) {
    const Converted c = convert(fn, input);
    return split_geometry(c.result, c.output);
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
