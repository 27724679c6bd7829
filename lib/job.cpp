#include "lib/job.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <ctime>
#include <memory>
#include <new>
#include <vector>

#include "lib/mac_name.h"
#include "lib/output.h"
#include "lib/pdf_output.h"
#include "lib/system.h"
#include "host/scratch.h"
#include "host/kavrel.h"
#include "host/macbinary.h"
#include "render/render.h"
#include "render/text_import.h"

namespace mwconv {

namespace {

using sys::File;

constexpr size_t kHeadSize = 4096;

std::string display_name(const std::string &path) { return path == "-" ? "<stdin>" : path; }

Status fail(const Job &job, Status status, const std::string &what) {
    if (job.message != nullptr) *job.message = "mwconv: " + display_name(job.input) + ": " + what;
    return status;
}

// Rewinds a stream the host wrote, after noting any write it lost: rewinding
// clears the stream's error indicator.
void rewind_checked(std::FILE *f) {
    kavrel::check_stream(f);
    std::rewind(f);
}

void copy_all(std::FILE *from, std::FILE *to) {
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, from)) > 0) std::fwrite(buffer, 1, n, to);
}

// A scratch copy of a stream that the job does not own.
File copied(std::FILE *from) {
    File copy(kavrel::open_scratch_stream());
    copy_all(from, copy.get());
    rewind_checked(copy.get());
    return copy;
}

// Inputs of megabytes are read in blocks of this size.
constexpr size_t kInputBuffer = 64 * 1024;

// Converters need a seekable stream: a pipe or a terminal is read into a
// scratch file first.  A file is read through `buffer`, which must outlive
// the stream.
File open_input(const std::string &path, char *buffer, std::string &error) {
    File file(path == "-" ? nullptr : sys::open_file(path, "rb"));
    std::FILE *source = path == "-" ? stdin : file.get();
    if (source == nullptr) {
        error = sys::error_text(errno);
        return nullptr;
    }
    if (file) std::setvbuf(file.get(), buffer, _IOFBF, kInputBuffer);
    if (sys::is_folder(source)) {
        error = "it is a folder";
        return nullptr;
    }
    if (path != "-" && std::fseek(source, 0, SEEK_SET) == 0) return file;
    File memory(kavrel::open_scratch_stream());
    copy_all(source, memory.get());
    if (std::ferror(source)) {
        error = sys::error_text(errno);
        return nullptr;
    }
    rewind_checked(memory.get());
    return memory;
}

const char *catalogue_name(From from) {
    switch (from) {
    case From::MacWriteII: return "MacWrite II";
    case From::MacWrite5: return "MacWrite 4.6/5";
    case From::MacWrite22: return "MacWrite 2.2";
    default: return nullptr;
    }
}

// What a converter's failing result says went wrong; `otherwise` for a
// result that says nothing more.
std::string failure_reason(int32_t rc, const std::string &otherwise) {
    switch (rc) {
    case kExportTooManyParagraphs:
        return "too many paragraphs for a MacWrite 4.6/5 document (at most 4095, rulers and page breaks included)";
    case kExportTooLong:
        return "too long for a MacWrite 4.6/5 document (at most 16 MB, 16,777,216 bytes, which its 24-bit positions can address)";
    case kImportTooMuchText:
        return "the document refers to far more text than it holds (damaged or crafted); conversion stopped at the "
               "limit of four times the document's size plus 64 KiB";
    case kOutOfMemory: return "out of memory";
    default: return otherwise;
    }
}

// Runs an import into a scratch file that has a name: a converter may
// rebuild its output by that name (the host library then hands back the
// stream that holds it).
int32_t convert_into_named_file(ConverterFn convert, std::FILE *in, File &stream, std::string &error) {
    std::string path;
    std::FILE *out = sys::open_named_scratch(kavrel::scratch_folder(), path);
    if (out == nullptr) {
        error = "cannot create a scratch file in " + kavrel::scratch_folder() + ": " + sys::error_text(errno);
        return 0;
    }
    kavrel_set_output_name(path.c_str());
    const int32_t rc = convert(in, out);
    std::FILE *taken = kavrel_take_output(out);
    sys::release_named_scratch(taken, path);
    stream.reset(taken);
    if (!stream) error = "the converter lost its output";
    return rc;
}

const Converter *recognise(const Plugin &plugin, std::FILE *in) {
    std::vector<uint8_t> head(kHeadSize);
    head.resize(std::fread(head.data(), 1, head.size(), in));
    std::fseek(in, 0, SEEK_SET);  // keeps a read error in sight
    return recognise_import(plugin, head.data(), head.size());
}

}  // namespace

const Converter *recognise_import(const Plugin &plugin, const uint8_t *head, size_t length) {
    const Converter *best = nullptr;
    int32_t best_bid = 0;
    for (From from : {From::MacWriteII, From::MacWrite5, From::MacWrite22}) {
        const Converter *c = plugin.find_import(catalogue_name(from));
        if (c == nullptr || c->bid == nullptr) continue;
        const int32_t bid = c->bid(head, length);
        if (bid > best_bid) {
            best_bid = bid;
            best = c;
        }
    }
    return best;
}

namespace {

// What the plug-in's identification says a damaged document lost.
std::string damage_of(const Plugin &plugin, std::FILE *in) {
    MacWriteIdentity id{};
    if (plugin.can_identify()) plugin.identify(in, &id);
    std::fseek(in, 0, SEEK_SET);
    return id.damaged ? std::string(id.damage) : std::string("part of it could not be read");
}

// Produces the internal stream of the input, or fails; a document that was
// damaged leaves what it lost in `damage`.
Status import_stream(const Plugin &plugin, const ConvertOptions &options, const Job &job, std::FILE *in, File &stream,
                     std::string &damage) {
    const Converter *importer = nullptr;
    if (options.from == From::Auto) {
        importer = recognise(plugin, in);
        if (importer == nullptr) return fail(job, kNotADocument, "not a MacWrite document");
    } else {
        importer = plugin.find_import(catalogue_name(options.from));
        if (importer == nullptr) return fail(job, kFailed, "the plug-in has no converter for this format");
    }
    std::string error;
    const int32_t rc = convert_into_named_file(importer->convert, in, stream, error);
    if (!error.empty()) return fail(job, kFailed, error);
    if (rc == -1) return fail(job, kNotADocument, "not a " + importer->name + " document");
    if (rc == kConvertedDamaged) damage = damage_of(plugin, in);
    if (rc != kConverted && rc != kConvertedDamaged) return fail(job, kFailed, failure_reason(rc, "the " + importer->name + " converter refused the input"));
    rewind_checked(stream.get());
    return kOk;
}

Status read_text(const Job &job, std::FILE *in, File &stream) {
    stream.reset(kavrel::open_scratch_stream());
    const long bad = render::text_to_stream(in, stream.get());
    if (std::ferror(in)) return fail(job, kFailed, "cannot read: " + sys::error_text(errno));
    if (bad >= 0) return fail(job, kFailed, "not valid UTF-8 text (byte offset " + std::to_string(bad) + ")");
    rewind_checked(stream.get());
    return kOk;
}

// A MacBinary II header in front of the document, named after the output.
void wrap_macbinary(const Job &job, std::FILE *document, std::FILE *out) {
    rewind_checked(document);
    std::fseek(document, 0, SEEK_END);
    const auto length = static_cast<uint32_t>(std::ftell(document));
    rewind_checked(document);
    const std::string name = mac_file_name(job.input, job.output);
    const auto header =
        kavrel::macbinary::make_header(name, "WORD", "MACA", length, kavrel::macbinary::mac_time(std::time(nullptr)));
    std::fwrite(header.data(), 1, header.size(), out);
    copy_all(document, out);
    putx(static_cast<int32_t>((128 - length % 128) % 128), 0, out);
}

// The export writes its document where it is to go, except one that is
// wrapped: the wrapping needs its length first.
Status export_macwrite5(const Plugin &plugin, const ConvertOptions &options, const Job &job, std::FILE *stream,
                        std::FILE *out) {
    const Converter *exporter = plugin.find_export("MacWrite 4.6/5");
    if (exporter == nullptr) return fail(job, kFailed, "the plug-in has no MacWrite 4.6/5 export");
    File document(options.macbinary ? kavrel::open_scratch_stream() : nullptr);
    const int32_t rc = exporter->convert(stream, document ? document.get() : out);
    if (rc != kConverted) return fail(job, kFailed, failure_reason(rc, "the MacWrite 4.6/5 export refused the input"));
    if (document) wrap_macbinary(job, document.get(), out);
    return kOk;
}

// How an output names the folder of its pictures: from the output's own
// folder, so the references hold wherever the two are moved together; as
// given when the output goes to standard output.
std::string media_reference(const Job &job) {
    if (job.media_dir.empty() || job.output == "-") return job.media_dir;
    std::error_code ec;
    const std::filesystem::path media = std::filesystem::absolute(sys::to_path(job.media_dir), ec);
    const std::filesystem::path from = std::filesystem::absolute(sys::to_path(job.output), ec).parent_path();
    const std::filesystem::path relative = media.lexically_relative(from);
    if (ec || relative.empty()) return job.media_dir;
    std::string reference = sys::utf8_of(relative);
    std::replace(reference.begin(), reference.end(), '\\', '/');
    return reference;
}

Status render_output(const Plugin &plugin, const ConvertOptions &options, const Job &job, std::FILE *stream, std::FILE *result) {
    render::RenderOptions how;
    how.title = job.input == "-" ? "Untitled" : sys::utf8_of(sys::to_path(job.input).filename());
    how.fragment = options.fragment;
    how.media_dir = media_reference(job);
    how.version = MWCONV_VERSION;
    how.created = job.created;
    how.modified = job.modified;
    bool written = true;
    switch (options.to) {
    case To::Text: written = render::to_text(stream, result); break;
    case To::Markdown: written = render::to_markdown(stream, result, how); break;
    case To::Html: written = render::to_html(stream, result, how); break;
    case To::Rtf: written = render::to_rtf(stream, result, how); break;
#ifdef MWCONV_HAVE_LIBZIP
    case To::Docx: written = render::to_docx(stream, result, how); break;
    case To::Odt: written = render::to_odt(stream, result, how); break;
#else
    case To::Docx:
    case To::Odt: return fail(job, kFailed, "this build has no DOCX or ODT output");
#endif
#ifdef MWCONV_HAVE_PDF
    case To::Pdf: {
        std::string error;
        if (!write_pdf(plugin.path(), stream, result, how, error)) return fail(job, kFailed, error);
        return kOk;
    }
#else
    case To::Pdf: return fail(job, kFailed, "this build has no PDF output");
#endif
    case To::Stream: copy_all(stream, result); return kOk;
    case To::MacWrite5: return export_macwrite5(plugin, options, job, stream, result);
    }
    return written ? kOk : fail(job, kFailed, "cannot write the output");
}

// Everything that can go wrong around a conversion rather than in it: a read
// error of the input (never taken for its end) and a scratch file that could
// not be written (a full disk, a file size limit).
Status check_streams(const Job &job, std::FILE *in, std::FILE *out) {
    if (in != nullptr && std::ferror(in)) return fail(job, kFailed, "cannot read: input/output error");
    if (out != nullptr) kavrel::check_stream(out);
    if (const int e = kavrel::scratch_failure())
        return fail(job, kFailed, "cannot write a scratch file in " + kavrel::scratch_folder() + ": " + sys::error_text(e));
    return kOk;
}

bool is_an_input(const Job &job) {
    sys::FileId target;
    if (job.output == "-" || job.inputs == nullptr || !sys::file_id(job.output, target)) return false;
    for (const sys::FileId &id : *job.inputs)
        if (id == target) return true;
    return false;
}

Status convert(const Plugin &plugin, const ConvertOptions &options, const Job &job) {
    if (is_an_input(job)) return fail(job, kFailed, "the output " + job.output + " is an input of this run; nothing written");
    std::string error;
    const auto buffer = std::make_unique<char[]>(kInputBuffer);
    File owned;
    std::FILE *in = job.opened;
    if (in == nullptr) {
        owned = open_input(job.input, buffer.get(), error);
        if (!owned) return fail(job, kFailed, "cannot read: " + error);
        in = owned.get();
    }
    File stream;
    std::string damage;
    if (options.from == From::Stream) {
        stream = owned ? std::move(owned) : copied(in);
    } else if (options.from == From::Text) {
        const Status status = read_text(job, in, stream);
        if (status != kOk) return status;
    } else {
        const Status status = import_stream(plugin, options, job, in, stream, damage);
        if (status != kOk) return status;
    }
    if (const Status status = check_streams(job, in, stream.get()); status != kOk) return status;
    if (!job.media_dir.empty()) {
        if (!render::extract_media(stream.get(), sys::to_path(job.media_dir), error)) return fail(job, kFailed, error);
        rewind_checked(stream.get());
    }
    if (job.into != nullptr) {
        const Status status = render_output(plugin, options, job, stream.get(), job.into);
        if (status != kOk) return status;
        if (const Status checked = check_streams(job, stream.get(), job.into); checked != kOk) return checked;
    } else {
        Delivery result(job.output);
        if (!result.open(error)) return fail(job, kFailed, error);
        const Status status = render_output(plugin, options, job, stream.get(), result.stream());
        if (status != kOk) return status;
        std::FILE *scratch = result.through_scratch() ? result.stream() : nullptr;
        if (const Status checked = check_streams(job, stream.get(), scratch); checked != kOk) return checked;
        if (!result.commit(error)) return fail(job, kFailed, error);
        if (job.modified && job.output != "-") sys::set_modified(job.output, *job.modified);
    }
    if (!damage.empty())
        return fail(job, kDamaged, "converted, but the document is damaged; what could not be read is missing: " + damage);
    return kOk;
}

}  // namespace

Outcome run_job(const Plugin &plugin, const ConvertOptions &options, Job job) {
    kavrel::reset_scratch_failure();
    Outcome outcome;
    job.message = &outcome.message;
    try {
        outcome.status = convert(plugin, options, job);
    } catch (const std::bad_alloc &) {
        outcome.status = fail(job, kFailed, "out of memory");
    } catch (const std::exception &e) {
        outcome.status = fail(job, kFailed, e.what());
    }
    return outcome;
}

}  // namespace mwconv
