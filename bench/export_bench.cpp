// Export speed and memory: MB of internal stream into a MacWrite 4.6/5 file.
// The peak resident size is reported so that its flatness across sizes shows
// that the export keeps no document content in memory.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdio>
#include <string>

#include "catalogue/catalogue.h"
#include "host/scratch.h"

namespace {

// About `megabytes` MB of stream: paragraphs of 4 KB with bold, italic and
// extended characters, few enough to fit one document.
std::FILE *make_stream(int megabytes) {
    std::FILE *f = kavrel::open_scratch_stream();
    std::string paragraph;
    while (paragraph.size() < 4000) paragraph += "Plain words, \\#bold\\$ and \\/italic\\0 caf\xE9 \\ \x20\x1Cq\\ \x20\x1D. ";
    paragraph += "\r";
    const long target = megabytes * 1024L * 1024L;
    for (long written = 0; written < target; written += static_cast<long>(paragraph.size()))
        std::fwrite(paragraph.data(), 1, paragraph.size(), f);
    return f;
}

long peak_rss_kb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void BM_Export(benchmark::State &state) {
    std::FILE *stream = make_stream(static_cast<int>(state.range(0)));
    const long size = std::ftell(stream);
    for (auto _ : state) {
        std::rewind(stream);
        std::FILE *out = kavrel::open_scratch_stream();
        if (export_macwrite_5(stream, out) != 0) state.SkipWithError("export failed");
        std::fclose(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * size);
    state.counters["peak_rss_kb"] = static_cast<double>(peak_rss_kb());
    std::fclose(stream);
}

BENCHMARK(BM_Export)->Arg(1)->Arg(5)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
