#include "cli/options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <map>

namespace mwconv {

const char *const kUsage =
    "usage: mwconv [-f FROM] [-t TO] [-o OUTPUT] [options] [INPUT ...]\n"
    "Try 'mwconv --help' for every option.\n";

namespace {

const std::map<std::string, From> kFrom = {
    {"auto", From::Auto},          {"macwrite-ii", From::MacWriteII}, {"macwrite5", From::MacWrite5},
    {"macwrite22", From::MacWrite22}, {"stream", From::Stream},      {"text", From::Text},
};

const std::map<std::string, To> kTo = {
    {"text", To::Text}, {"markdown", To::Markdown}, {"html", To::Html},
    {"rtf", To::Rtf},   {"docx", To::Docx},         {"odt", To::Odt},
    {"stream", To::Stream}, {"macwrite5", To::MacWrite5}, {"pdf", To::Pdf},
};

template <typename T>
std::string names_of(const std::map<std::string, T> &names) {
    std::string out;
    for (const auto &[name, value] : names) out += (out.empty() ? "" : ", ") + name;
    return out;
}

template <typename T>
bool lookup(const std::map<std::string, T> &names, const std::string &value, T &out) {
    const auto it = names.find(value);
    if (it == names.end()) return false;
    out = it->second;
    return true;
}

// What this build leaves out, said in --help.
#if !defined(MWCONV_HAVE_PDF) && !defined(MWCONV_HAVE_LIBZIP)
const char *const kMissingOutputs = "; this build has no pdf, docx or odt output";
#elif !defined(MWCONV_HAVE_PDF)
const char *const kMissingOutputs = "; this build has no pdf output (no cairo and pango)";
#elif !defined(MWCONV_HAVE_LIBZIP)
const char *const kMissingOutputs = "; this build has no docx or odt output (no libzip)";
#else
const char *const kMissingOutputs = "";
#endif

struct Raw {
    std::string from = "auto", to = "text", lang = "en";
};

void describe(CLI::App &app, Options &o, Raw &raw) {
    app.description("Converts classic Macintosh MacWrite documents (MacWrite II, 4.6/5 and 2.2, with or\n"
                    "without a MacBinary header) to text and other formats, and writes MacWrite 4.6/5.");
    app.set_help_flag("-h,--help", "Print this help and exit");
    app.add_flag("--version", o.version, "Print mwconv's version and exit");
    app.add_option("-f,--from", raw.from, "Input format: " + names_of(kFrom) + " (auto: recognised by content)")
        ->type_name("FROM");
    app.add_option("-t,--to", raw.to, "Output format: " + names_of(kTo) + " (default text)" + kMissingOutputs)
        ->type_name("TO");
    app.add_option("-o,--output", o.output,
                   "Output file, or folder for several inputs or a folder (created when missing); - is standard output")
        ->type_name("OUTPUT");
    app.add_flag("--macbinary", o.macbinary, "With -t macwrite5: wrap the document in a MacBinary II header");
    app.add_flag("--fragment", o.fragment, "With -t html: write the body's content alone, to paste into a page");
    app.add_option("--extract-media", o.media_dir,
                   "Write each picture as DIR/pictureN.svg and DIR/pictureN.pict (in a batch, in a folder of DIR "
                   "named after each output); HTML and Markdown refer to them")
        ->type_name("DIR");
    app.add_flag("--force", o.force, "Let a batch replace files that already exist in the output folder");
    app.add_option("-j,--jobs", o.jobs, "Convert N files at once (default: one per core)")
        ->type_name("N")
        ->check(CLI::Range(1u, 256u));
    app.add_flag("-q,--quiet", o.quiet, "No progress line, no notes on skipped files, no summary");
    app.add_flag("--identify", o.identify,
                 "Describe each file (generation, MacBinary header, paragraph counts) instead of converting; "
                 "on a container, every member (type, creator, dates, sizes, SHA-256)");
    app.add_flag("--json", o.json, "With --identify: one JSON object a line");
    app.add_flag("--list-converters", o.list_converters, "Print the plug-in's catalogue and exit");
    app.add_option("--lang", raw.lang, "With --list-converters: fr or en (default en)")->type_name("LANG");
    app.add_option("--plugin", o.plugin, "Load the converter plug-in from PATH")->type_name("PATH");
    app.add_option("inputs", o.inputs, "Files or folders (walked recursively); none or - is standard input")
        ->type_name("INPUT");
}

bool settle(Options &o, const Raw &raw, std::string &error) {
    if (!lookup(kFrom, raw.from, o.from)) error = "unknown input format: " + raw.from + " (" + names_of(kFrom) + ")";
    else if (!lookup(kTo, raw.to, o.to)) error = "unknown output format: " + raw.to + " (" + names_of(kTo) + ")";
    else if (raw.lang != "fr" && raw.lang != "en") error = "unknown language: " + raw.lang + " (fr or en)";
    else if (o.macbinary && o.to != To::MacWrite5) error = "--macbinary needs -t macwrite5";
    else if (o.fragment && o.to != To::Html) error = "--fragment needs -t html";
    else if (o.json && !o.identify) error = "--json goes with --identify";
#ifndef MWCONV_HAVE_LIBZIP
    else if (o.to == To::Docx || o.to == To::Odt)
        error = "-t " + raw.to +
                " is not available: this build of mwconv has no DOCX or ODT output (it was built without libzip)";
#endif
#ifndef MWCONV_HAVE_PDF
    else if (o.to == To::Pdf)
        error = "-t pdf is not available: this build of mwconv has no PDF output (it was built without cairo and pango)";
#endif
    o.french = raw.lang == "fr";
    return error.empty();
}

}  // namespace

std::optional<Options> parse_options(std::vector<std::string> args, std::string &error) {
    Options o;
    Raw raw;
    CLI::App app{"", "mwconv"};
    describe(app, o, raw);
    try {
        // CLI11 takes the arguments without the program's name, last first.
        if (!args.empty()) args.erase(args.begin());
        std::reverse(args.begin(), args.end());
        app.parse(args);
    } catch (const CLI::CallForHelp &) {
        o.help = true;
        return o;
    } catch (const CLI::ParseError &e) {
        error = e.what();
        return std::nullopt;
    }
    o.output_given = app.count("--output") > 0;
    if (!settle(o, raw, error)) return std::nullopt;
    return o;
}

std::string help_text() {
    Options o;
    Raw raw;
    CLI::App app{"", "mwconv"};
    describe(app, o, raw);
    // CLI11's own usage line does not show the common options; ours does.
    std::string text = app.help();
    const auto usage = text.find("Usage:");
    if (usage != std::string::npos) text.erase(usage, text.find('\n', usage) + 1 - usage);
    return "usage: mwconv [-f FROM] [-t TO] [-o OUTPUT] [options] [INPUT ...]\n"
           "       mwconv --identify [--json] INPUT ...\n"
           "       mwconv --list-converters [--lang fr|en]\n"
           "       mwconv serve [--listen ADDRESS:PORT] [-j N] [--queue N] [--max-upload SIZE]  (mwconv serve --help)\n\n" +
           text +
           "\nContainers (MacBinary, BinHex, AppleSingle, StuffIt, Compact Pro, zip, tar, 7z, cpio,\n"
           "ISO 9660) and disk images (DiskCopy 4.2, NDIF, DART, UDIF .dmg, Apple partition maps,\n"
           "GPT disks, MFS, HFS, HFS Plus and HFSX volumes, ISO 9660 / HFS hybrid CDs) are walked\n"
           "like folders: mwconv -o out/ Archive.zip writes out/Archive.zip/Docs/Memo.txt.\n"
           "\nExit status: 0 all converted, 1 bad usage, 2 an input was not a document of the\n"
           "requested kind, 3 an input could not be read or converted or an output not written,\n"
           "4 converted, but the document is damaged; what could not be read is missing.\n";
}

}  // namespace mwconv
