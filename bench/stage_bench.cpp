// Each stage of a conversion on its own, on generated documents of 1 MB and
// 10 MB: the import of each MacWrite generation, reading the internal stream
// (its events, and the styled document the renderers read), each renderer,
// the export, and UTF-8 text into the stream.  Throughput counts the bytes
// the stage reads.  Documents are made once per size, before the timing.
//
// Peak memory is not reported here: building the documents in memory sets
// the process's high-water mark.  bench/compare.sh measures it per run.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>

#include "catalogue/catalogue.h"
#include "host/scratch.h"
#include "host/stream_reader.h"
#include "render/render.h"
#include "render/styled.h"
#include "render/text_import.h"
#include "tests/support/mw22_builder.h"
#include "tests/support/mw2_builder.h"
#include "tests/support/mw5_builder.h"

namespace {

using namespace testing_support;

std::FILE *scratch_of(const std::string &bytes) {
    std::FILE *f = kavrel::open_scratch_stream();
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::rewind(f);
    return f;
}

// A paragraph of plain words, bold and italic words (as runs or tags), a
// tab, accented letters and curly quotes, about `size` bytes long.
std::string words(size_t size, bool tagged) {
    std::string p;
    while (p.size() < size) {
        p += tagged ? "Plain words, \\#bold\\$ and \\/italic\\0 caf\xE9\t\\ \x20\x1Cquoted\\ \x20\x1D. "
                    : "Plain words, bold and italic caf\x8E\t\xD2quoted\xD3. ";
    }
    return p;
}

// The internal stream of about `megabytes` MB, in paragraphs of 5 KB.
std::string stream_document(long megabytes) {
    const std::string paragraph = words(5000, true) + "\r";
    std::string s;
    while (static_cast<long>(s.size()) < megabytes << 20) s += paragraph;
    return s;
}

// MacWrite 4.6/5: our export of that stream.
std::string macwrite5_document(long megabytes) {
    std::FILE *stream = scratch_of(stream_document(megabytes));
    std::FILE *doc = kavrel::open_scratch_stream();
    export_macwrite_5(stream, doc);
    std::string bytes;
    std::rewind(doc);
    char block[65536];
    for (size_t n; (n = std::fread(block, 1, sizeof block, doc)) > 0;) bytes.append(block, n);
    std::fclose(stream);
    std::fclose(doc);
    return bytes;
}

// Runs that turn bold on and off every 40 characters of a paragraph.
std::vector<Run> alternating_runs(size_t length) {
    std::vector<Run> runs;
    for (size_t at = 0; at < length; at += 40) runs.push_back({static_cast<int16_t>(at), 12, static_cast<uint8_t>((at / 40) & 1), 3});
    return runs;
}

std::string macwrite22_document(long megabytes) {
    Mw22Builder doc;
    const std::string text = words(5000, false) + "\r";
    for (long size = 0; size < megabytes << 20; size += static_cast<long>(text.size()))
        doc.text(Area::Main, text, alternating_runs(text.size()));
    return doc.build();
}

std::string macwrite2_document(long megabytes) {
    Mw2Builder doc;
    const int plain = doc.char_style(3, 12), bold = doc.char_style(3, 12, 0x0100);
    doc.para_format(0);
    Mw2Area area;
    area.chars_per_block = 250;
    const std::string paragraph = words(5000, false) + "\r";
    while (static_cast<long>(area.text.size()) < megabytes << 20) area.text += paragraph;
    for (size_t at = 0; at < area.text.size(); at += 40)
        area.char_runs.push_back({static_cast<int16_t>((at / 40) & 1 ? bold : plain), 40});
    area.para_runs.push_back({0, static_cast<int32_t>(area.text.size())});
    doc.area(area);
    doc.chains_before_text();  // 10 MB is more blocks than chain links reach otherwise
    return doc.build();
}

// UTF-8 text of about `megabytes` MB.
std::string text_document(long megabytes) {
    const std::string line = "Plain words, bold and italic caf\xC3\xA9\t\xE2\x80\x9Cquoted\xE2\x80\x9D. ";
    std::string paragraph;
    while (paragraph.size() < 5000) paragraph += line;
    paragraph += "\n";
    std::string s;
    while (static_cast<long>(s.size()) < megabytes << 20) s += paragraph;
    return s;
}

enum class Doc { Stream, MacWrite5, MacWrite2, MacWrite22, Text };

// The documents, made once for each kind and size.
std::FILE *document(Doc kind, long megabytes, long &size) {
    static std::map<std::pair<Doc, long>, std::FILE *> made;
    std::FILE *&f = made[{kind, megabytes}];
    if (f == nullptr) {
        switch (kind) {
        case Doc::Stream: f = scratch_of(stream_document(megabytes)); break;
        case Doc::MacWrite5: f = scratch_of(macwrite5_document(megabytes)); break;
        case Doc::MacWrite2: f = scratch_of(macwrite2_document(megabytes)); break;
        case Doc::MacWrite22: f = scratch_of(macwrite22_document(megabytes)); break;
        case Doc::Text: f = scratch_of(text_document(megabytes)); break;
        }
    }
    std::fseek(f, 0, SEEK_END);
    size = std::ftell(f);
    std::rewind(f);
    return f;
}

// Runs `stage` from the document into a scratch stream, once an iteration.
template <typename Stage>
void run_stage(benchmark::State &state, Doc kind, Stage stage) {
    long size = 0;
    std::FILE *in = document(kind, state.range(0), size);
    for (auto _ : state) {
        std::rewind(in);
        std::FILE *out = kavrel::open_scratch_stream();
        if (!stage(in, out)) state.SkipWithError("the stage failed");
        std::fclose(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * size);
}

void BM_ImportMacWrite5(benchmark::State &state) {
    run_stage(state, Doc::MacWrite5, [](std::FILE *in, std::FILE *out) { return import_macwrite_5(in, out) == 0; });
}
void BM_ImportMacWriteII(benchmark::State &state) {
    run_stage(state, Doc::MacWrite2, [](std::FILE *in, std::FILE *out) { return import_macwrite_ii(in, out) == 0; });
}
void BM_ImportMacWrite22(benchmark::State &state) {
    run_stage(state, Doc::MacWrite22, [](std::FILE *in, std::FILE *out) { return import_macwrite_22(in, out) == 0; });
}

void BM_ReadStreamEvents(benchmark::State &state) {
    run_stage(state, Doc::Stream, [](std::FILE *in, std::FILE *) {
        kavrel::stream::Reader reader(in);
        kavrel::stream::Event ev;
        long events = 0;
        while (reader.next(ev)) ++events;
        benchmark::DoNotOptimize(events);
        return events > 0;
    });
}

// The styled document alone: a listener that only counts what it receives.
struct Counter final : render::StyledListener {
    long count = 0;
    void begin_block(render::Block, int) override { ++count; }
    void end_block() override { ++count; }
    void begin_paragraph(const render::ParagraphStyle &) override { ++count; }
    void end_paragraph() override { ++count; }
    void text(std::u16string_view run, const render::CharStyle &) override { count += static_cast<long>(run.size()); }
    void tab(const render::CharStyle &) override { ++count; }
    void line_end(const render::CharStyle &) override { ++count; }
    void page_break() override { ++count; }
    void note_call(int, const render::CharStyle &) override { ++count; }
    void field(render::Field, const render::CharStyle &) override { ++count; }
    void picture(const render::Picture &) override { ++count; }
    void end_document() override { ++count; }
};

void BM_ReadStyled(benchmark::State &state) {
    run_stage(state, Doc::Stream, [](std::FILE *in, std::FILE *) {
        Counter counter;
        render::read_styled(in, counter);
        benchmark::DoNotOptimize(counter.count);
        return counter.count > 0;
    });
}

void BM_RenderText(benchmark::State &state) { run_stage(state, Doc::Stream, render::to_text); }
void BM_RenderMarkdown(benchmark::State &state) {
    run_stage(state, Doc::Stream, [](std::FILE *in, std::FILE *out) { return render::to_markdown(in, out); });
}
void BM_RenderHtml(benchmark::State &state) {
    run_stage(state, Doc::Stream, [](std::FILE *in, std::FILE *out) { return render::to_html(in, out, {}); });
}
void BM_RenderRtf(benchmark::State &state) {
    run_stage(state, Doc::Stream, [](std::FILE *in, std::FILE *out) { return render::to_rtf(in, out, {}); });
}

void BM_Export(benchmark::State &state) {
    run_stage(state, Doc::Stream, [](std::FILE *in, std::FILE *out) { return export_macwrite_5(in, out) == 0; });
}

void BM_TextToStream(benchmark::State &state) {
    run_stage(state, Doc::Text, [](std::FILE *in, std::FILE *out) { return render::text_to_stream(in, out) < 0; });
}

#define STAGE(name) BENCHMARK(name)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond)
STAGE(BM_ImportMacWrite5);
STAGE(BM_ImportMacWriteII);
STAGE(BM_ImportMacWrite22);
STAGE(BM_ReadStreamEvents);
STAGE(BM_ReadStyled);
STAGE(BM_RenderText);
STAGE(BM_RenderHtml);
STAGE(BM_RenderMarkdown);
STAGE(BM_RenderRtf);
STAGE(BM_Export);
STAGE(BM_TextToStream);

}  // namespace

BENCHMARK_MAIN();
