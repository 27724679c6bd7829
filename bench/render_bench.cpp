// Renderers (DOCX and ODT where libzip is at hand) on a MacWrite 4.6/5
// document of 1 MB and of 14 MB (near the 16 MB a 4.6/5 document can
// address): import and render, timed, with the process's peak resident
// size.  The 1 MB runs come first; a peak that does not move for 14 MB shows
// that no renderer holds the document.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdio>
#include <string>

#include "catalogue/catalogue.h"
#include "host/scratch.h"
#include "render/render.h"

namespace {

// A MacWrite 4.6/5 document of about `megabytes` MB: text in paragraphs of
// 7.5 KB (a document holds at most 2047 paragraphs), styled, with tabs and
// characters of other sets; null if the export refuses.  The style runs add
// about a sixth to the text, so the text is six sevenths of the size.
std::FILE *make_document(long megabytes) {
    std::FILE *stream = kavrel::open_scratch_stream();
    std::string paragraph;
    while (paragraph.size() < 7500)
        paragraph += "Plain words, \\#bold\\$ and \\/italic\\0 caf\xE9\t\\ \x20\x1Cq\\ \x20\x1D *not* <b> 1. ";
    paragraph += "\r";
    for (long written = 0; written < (megabytes << 20) / 7 * 6; written += static_cast<long>(paragraph.size()))
        std::fwrite(paragraph.data(), 1, paragraph.size(), stream);
    std::rewind(stream);
    std::FILE *doc = kavrel::open_scratch_stream();
    const bool exported = export_macwrite_5(stream, doc) == 0;
    std::fclose(stream);
    if (exported) return doc;
    std::fclose(doc);
    return nullptr;
}

long peak_rss_kb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

bool render_as(int format, std::FILE *stream, std::FILE *out) {
    const render::RenderOptions options;
    switch (format) {
    case 0: return render::to_text(stream, out);
    case 1: return render::to_html(stream, out, options);
    case 2: return render::to_markdown(stream, out);
    case 3: return render::to_rtf(stream, out, options);
#ifdef MWCONV_HAVE_LIBZIP
    case 4: return render::to_docx(stream, out, options);
    case 5: return render::to_odt(stream, out, options);
#endif
    default: return false;
    }
}

#ifdef MWCONV_HAVE_LIBZIP
constexpr int kFormats = 6;
#else
constexpr int kFormats = 4;
#endif

void BM_ImportAndRender(benchmark::State &state) {
    static const char *const kNames[] = {"text", "html", "markdown", "rtf", "docx", "odt"};
    state.SetLabel(kNames[state.range(0)]);
    std::FILE *doc = make_document(state.range(1));
    if (doc == nullptr) {
        state.SkipWithError("the export refused the document");
        return;
    }
    std::fseek(doc, 0, SEEK_END);
    const long size = std::ftell(doc);
    for (auto _ : state) {
        std::rewind(doc);
        std::FILE *stream = kavrel::open_scratch_stream();
        if (import_macwrite_5(doc, stream) != 0) state.SkipWithError("import failed");
        std::rewind(stream);
        std::FILE *out = kavrel::open_scratch_stream();
        if (!render_as(static_cast<int>(state.range(0)), stream, out)) state.SkipWithError("render failed");
        std::fclose(out);
        std::fclose(stream);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * size);
    state.counters["document_kb"] = static_cast<double>(size >> 10);
    state.counters["peak_rss_kb"] = static_cast<double>(peak_rss_kb());
    std::fclose(doc);
}

BENCHMARK(BM_ImportAndRender)
    ->ArgsProduct({benchmark::CreateDenseRange(0, kFormats - 1, 1), {1}})
    ->ArgsProduct({benchmark::CreateDenseRange(0, kFormats - 1, 1), {14}})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
