#include "serve/routes.h"

#include <stdlib.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <chrono>
#include <cstdlib>
#include <memory>
#include <nlohmann/json.hpp>

#include "host/scratch.h"
#include "lib/members.h"
#include "lib/system.h"
#include "serve/answers.h"
#include "serve/page.h"
#include "serve/zip_stream.h"

namespace mwconv::serve {

namespace fs = std::filesystem;

namespace {

using httplib::ContentReader;
using httplib::Request;
using httplib::Response;

constexpr To kFormats[] = {To::Text, To::Markdown, To::Html, To::Rtf,
#ifdef MWCONV_HAVE_LIBZIP
                           To::Docx, To::Odt,
#endif
                           To::Stream, To::MacWrite5};

const char *format_name(To to) {
    switch (to) {
    case To::Text: return "text";
    case To::Markdown: return "markdown";
    case To::Html: return "html";
    case To::Rtf: return "rtf";
    case To::Docx: return "docx";
    case To::Odt: return "odt";
    case To::Stream: return "stream";
    default: return "macwrite5";
    }
}

std::string format_list() {
    std::string out;
    for (To to : kFormats) out += (out.empty() ? "" : ", ") + std::string(format_name(to));
    return out;
}

// A query flag: true when bare, "1" or "true"; absent is false.
bool flag(const Request &req, const char *name, bool &value, std::string &error) {
    value = req.has_param(name);
    if (!value) return true;
    const std::string v = req.get_param_value(name);
    if (v.empty() || v == "1" || v == "true") return true;
    error = std::string(name) + " takes no value, 1 or true, not \"" + v + "\"";
    return false;
}

// The conversion's options from the query, checked as the command checks
// its own; false with the reason.
bool options_of(const Request &req, RunOptions &o, std::string &error) {
    const std::string to = req.has_param("to") ? req.get_param_value("to") : "text";
    const auto format = to_name(to);
    if (!format || std::find(std::begin(kFormats), std::end(kFormats), *format) == std::end(kFormats)) {
        error = "unknown output format: " + to + " (" + format_list() + ")";
        return false;
    }
    o.to = *format;
    if (!flag(req, "fragment", o.fragment, error) || !flag(req, "macbinary", o.macbinary, error)) return false;
    if (o.fragment && o.to != To::Html) error = "fragment needs to=html";
    else if (o.macbinary && o.to != To::MacWrite5) error = "macbinary needs to=macwrite5";
    o.member = req.get_param_value("member");
    return error.empty();
}

// An answer given before the body was read: the connection cannot carry
// another request.  The library closes a connection after its answer when
// the request asked for it, so the request asks for it now.
void refuse(const Request &req, Response &res, int status, const std::string &title, const std::string &detail) {
    problem(res, status, title, detail);
    const_cast<Request &>(req).set_header("Connection", "close");
}

bool declared_too_large(const Request &req, uint64_t limit) {
    if (!req.has_header("Content-Length")) return false;
    const std::string value = req.get_header_value("Content-Length");
    char *end = nullptr;
    const unsigned long long n = std::strtoull(value.c_str(), &end, 10);
    return end != value.c_str() && n > limit;
}

std::string too_large_text(uint64_t limit) {
    return "the upload is larger than the service takes (" + std::to_string(limit) + " bytes)";
}

// The download's name: the input's whole name and the format's extension,
// as the command names an output in a folder.
std::string download_name(const std::string &name, const std::string &extension) {
    return (name.empty() ? std::string("Untitled") : name) + "." + extension;
}

// Sends the stream `f` whole, from its start, closing it when done.
void send_stream(Response &res, sys::File f, const std::string &type) {
    std::fseek(f.get(), 0, SEEK_END);
    const long size = std::ftell(f.get());
    std::shared_ptr<std::FILE> file(f.release(), sys::FileCloser());
    res.set_content_provider(static_cast<size_t>(std::max(size, 0L)), type,
                             [file](size_t offset, size_t length, httplib::DataSink &sink) {
                                 // On the heap: on each of the pool's stacks it would stay resident.
                                 std::vector<char> buffer(std::min<size_t>(length, 65536));
                                 if (std::fseek(file.get(), static_cast<long>(offset), SEEK_SET) != 0) return false;
                                 const size_t n = std::fread(buffer.data(), 1, buffer.size(), file.get());
                                 return n > 0 && sink.write(buffer.data(), n);
                             });
}

// The messages' file in a zip: a name that no output takes (outputs end in
// the format's extension; a folder could still be called so).
std::string messages_name(const fs::path &root) {
    std::string name = "mwconv-messages.log";
    std::error_code ec;
    while (fs::exists(root / name, ec)) name.insert(0, "_");
    return name;
}

// Every this many conversions, the pages that conversions freed are given
// back to the system: the pool's threads share a few arenas, each of which
// would otherwise keep the holes of the largest documents it met, and a
// long-running service creep up.  Not after each one: giving pages back
// stops every thread to flush its address translations, and the next
// conversion faults the pages in again, which together cost a request a
// fifth of its time.
constexpr unsigned kTrimEvery = 16;

// Whatever way a conversion ends: its scratch files emptied (the upload and
// the answer are emptied when their streams close), and freed pages given
// back now and then.
class AfterConversion {
public:
    explicit AfterConversion(std::atomic<unsigned> &finished) : finished_(finished) {}
    AfterConversion(const AfterConversion &) = delete;
    AfterConversion &operator=(const AfterConversion &) = delete;
    ~AfterConversion() {
        empty_thread_scratch();
#if defined(__GLIBC__)
        if (++finished_ % kTrimEvery == 0) malloc_trim(0);
#endif
    }

private:
    std::atomic<unsigned> &finished_;
};

}  // namespace

fs::path ScratchFolders::make() {
    std::string pattern = kavrel::scratch_folder() + "/mwconv-serve-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) return {};
    const std::lock_guard<std::mutex> lock(mutex_);
    folders_.insert(pattern);
    return pattern;
}

void ScratchFolders::remove(const fs::path &folder) {
    std::error_code ec;
    fs::remove_all(folder, ec);
    const std::lock_guard<std::mutex> lock(mutex_);
    folders_.erase(folder);
}

void ScratchFolders::remove_all() {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::error_code ec;
    for (const fs::path &folder : folders_) fs::remove_all(folder, ec);
    folders_.clear();
}

bool Routes::take_upload(const Request &req, Response &res, const ContentReader &reader, Upload &upload,
                         bool admitted) {
    if (declared_too_large(req, settings_.max_upload)) {
        refuse(req, res, 413, "Upload too large", too_large_text(settings_.max_upload));
        return false;
    }
    if (!admitted) {
        refuse(req, res, 503, "Busy", "every conversion place and the queue are taken; try again");
        res.set_header("Retry-After", "1");
        return false;
    }
    const Limits limits{settings_.max_upload,
                        std::chrono::steady_clock::now() + std::chrono::seconds(settings_.timeout)};
    switch (receive(req, reader, limits, upload)) {
    case Receipt::Whole: return true;
    case Receipt::Empty: problem(res, 400, "Bad request", "the upload is empty"); break;
    case Receipt::NoFile: problem(res, 400, "Bad request", "the form has no part with a file name"); break;
    case Receipt::TooLarge: refuse(req, res, 413, "Upload too large", too_large_text(settings_.max_upload)); break;
    case Receipt::TimedOut:
        refuse(req, res, 408, "Request timeout", "the request did not arrive whole within " + std::to_string(settings_.timeout) + " s");
        break;
    case Receipt::Malformed: refuse(req, res, 400, "Bad request", "the request's body is incomplete or malformed"); break;
    case Receipt::NoScratch:
        refuse(req, res, 507, "Insufficient storage", "cannot write a scratch file in " + kavrel::scratch_folder());
        break;
    }
    return false;
}

void Routes::convert(const Request &req, Response &res, const ContentReader &reader) {
    RunOptions options;
    std::string error;
    if (!options_of(req, options, error)) return refuse(req, res, 400, "Bad request", error);
    Gate::Admission admission = gate_.admit();
    Upload upload;
    if (!take_upload(req, res, reader, upload, static_cast<bool>(admission))) return;
    const auto place = admission.convert();
    const AfterConversion after(finished_);
    if (convert_container(upload, options, res)) return;
    if (!options.member.empty()) return problem(res, 400, "Bad request", "member needs a container");
    std::rewind(upload.file.get());
    convert_document(upload, options, res);
}

void Routes::convert_document(Upload &upload, const RunOptions &options, Response &res) {
    sys::File out(kavrel::try_scratch_stream());
    if (!out) return problem(res, 507, "Insufficient storage", "cannot write a scratch file in " + kavrel::scratch_folder());
    std::string damaged;
    Naming naming;
    naming.name = upload.name;
    try {
        library_.convert_stream(upload.file.get(), out.get(), options, naming, &damaged);
    } catch (const Error &e) {
        return problem(res, status_of(e.status()), title_of(e.status()), e.what());
    }
    upload.file.reset();
    if (!damaged.empty()) res.set_header("Mwconv-Damaged", header_text(damaged));
    res.set_header("Content-Disposition", attachment(download_name(upload.name, output_extension(options.to))));
    send_stream(res, std::move(out), content_type(options.to, options.macbinary));
}

// What the members of a converted container came to.
struct Tally {
    size_t converted = 0, documents_refused = 0;
    std::string damaged, messages;
};

Tally tally(const ContainerRun &run) {
    Tally t;
    for (const MemberOutcome &m : run.members) {
        if (m.kind == MemberOutcome::kConverted || m.kind == MemberOutcome::kDamaged) ++t.converted;
        if (m.kind == MemberOutcome::kFailed) ++t.documents_refused;
        if (m.kind == MemberOutcome::kDamaged) t.damaged = m.message;
        if (!m.message.empty()) t.messages += m.message + "\n";
    }
    return t;
}

// The answer for a container of which nothing converted.
void nothing_converted(Response &res, const std::string &name, Tally &t) {
    if (!t.messages.empty()) t.messages.pop_back();
    problem(res, 422, t.documents_refused == 0 ? "Not a MacWrite document" : "Not converted",
            t.messages.empty() ? "mwconv: " + name + ": no MacWrite document in it" : t.messages);
}

// A container is converted into a scratch folder as the command's -o
// converts it, then sent as a zip (or, for the one document of a wrapper or
// the member asked for, as that document).  False when it is no container.
bool Routes::convert_container(Upload &upload, const RunOptions &options, Response &res) {
    if (!open_container(options, sys::reopen_for_reading(upload.file.get()))) return false;
    if (convert_wrapped(upload, options, res)) return true;
    const fs::path folder = scratch_.make();
    if (folder.empty()) {
        problem(res, 507, "Insufficient storage", "cannot make a scratch folder in " + kavrel::scratch_folder());
        return true;
    }
    const std::string name = upload.name.empty() ? "-" : upload.name;
    const fs::path root = folder / "c";
    std::optional<ContainerRun> run;
    try {
        run = library_.convert_container(upload.file.get(), name, sys::utf8_of(root), options);
    } catch (const Error &e) {
        scratch_.remove(folder);
        problem(res, status_of(e.status()), title_of(e.status()), e.what());
        return true;
    }
    upload.file.reset();
    if (!run) {  // recognised a moment ago: only a file changed meanwhile could do this
        scratch_.remove(folder);
        problem(res, 500, "Internal error", "mwconv: " + name + ": the container could not be opened again");
        return true;
    }
    Tally t = tally(*run);
    if (!options.member.empty() && run->members.empty()) {
        scratch_.remove(folder);
        problem(res, 404, "No such member", "mwconv: " + name + ": no member " + options.member);
        return true;
    }
    if (t.converted == 0) {
        scratch_.remove(folder);
        nothing_converted(res, name, t);
        return true;
    }
    const std::string extension = output_extension(options.to);
    if (!run->folder_like || !options.member.empty()) {
        // One document: sent as the command would write it.
        const std::vector<fs::path> files = files_under(folder);
        sys::File out(files.size() == 1 ? sys::open_file(sys::utf8_of(files[0]), "rb") : nullptr);
        const std::string download =
            options.member.empty() ? download_name(upload.name, extension) : sys::utf8_of(files.at(0).filename());
        scratch_.remove(folder);
        if (!out) {
            problem(res, 500, "Internal error", "mwconv: " + name + ": the converted document went missing");
            return true;
        }
        if (!t.damaged.empty()) res.set_header("Mwconv-Damaged", header_text(t.damaged));
        res.set_header("Content-Disposition", attachment(download));
        send_stream(res, std::move(out), content_type(options.to, options.macbinary));
        return true;
    }
    std::vector<ZipText> texts;
    if (!t.messages.empty()) texts.push_back(ZipText{messages_name(root), t.messages});
    res.set_header("Content-Disposition", attachment(download_name(upload.name, "zip")));
    res.set_chunked_content_provider(
        "application/zip",
        [root, texts](size_t, httplib::DataSink &sink) {
            const bool written = write_zip(root, texts, sink.write);
            if (written) sink.done();
            return written;
        },
        [this, folder](bool) { scratch_.remove(folder); });
    return true;
}

// A container that wraps one document is converted straight into a
// scratch stream, without a folder: making files and folders costs the file
// system far more than the conversion.  False, with nothing answered, for
// any other container.
bool Routes::convert_wrapped(Upload &upload, const RunOptions &options, Response &res) {
    sys::File out(kavrel::try_scratch_stream());
    if (!out) return false;  // the folder's way answers why
    const std::string name = upload.name.empty() ? "-" : upload.name;
    std::optional<ContainerRun> run;
    try {
        run = library_.convert_wrapped(upload.file.get(), name, out.get(), options);
    } catch (const Error &e) {
        problem(res, status_of(e.status()), title_of(e.status()), e.what());
        return true;
    }
    if (!run) return false;
    upload.file.reset();
    Tally t = tally(*run);
    if (!run->written) {  // the document's own outcome decides, not damage past it
        nothing_converted(res, name, t);
        return true;
    }
    if (!t.damaged.empty()) res.set_header("Mwconv-Damaged", header_text(t.damaged));
    res.set_header("Content-Disposition", attachment(download_name(upload.name, output_extension(options.to))));
    send_stream(res, std::move(out), content_type(options.to, options.macbinary));
    return true;
}

void Routes::identify(const Request &req, Response &res, const ContentReader &reader) {
    Gate::Admission admission = gate_.admit();
    Upload upload;
    if (!take_upload(req, res, reader, upload, static_cast<bool>(admission))) return;
    const auto place = admission.convert();
    const AfterConversion after(finished_);
    try {
        std::string body;
        for (const std::string &line : library_.identify_lines(upload.file.get(), upload.name.empty() ? "-" : upload.name))
            body += line + "\n";
        res.set_content(body, "application/x-ndjson; charset=utf-8");
    } catch (const Error &e) {
        problem(res, status_of(e.status()), title_of(e.status()), e.what());
    }
}

void Routes::install(httplib::Server &server) {
    server.Post("/convert", [this](const Request &req, Response &res, const ContentReader &reader) { convert(req, res, reader); });
    server.Post("/identify", [this](const Request &req, Response &res, const ContentReader &reader) { identify(req, res, reader); });
    server.Get("/health", [](const Request &, Response &res) { res.set_content("ok\n", "text/plain; charset=utf-8"); });
    server.Get("/version", [](const Request &, Response &res) {
        res.set_content(std::string("mwconv ") + version() + "\n", "text/plain; charset=utf-8");
    });
    server.Get("/formats", [](const Request &, Response &res) {
        nlohmann::json names = nlohmann::json::array();
        for (To to : kFormats) names.push_back(format_name(to));
        res.set_content(names.dump() + "\n", "application/json");
    });
    server.Get("/|/index.html|/page.css|/page.js", [](const Request &req, Response &res) {
        const PageFile *file = page_file(req.path);
        if (file == nullptr) return problem(res, 404, "Not found", "");
        res.set_content(file->content.data(), file->content.size(), std::string(file->type));
    });
    const uint64_t limit = settings_.max_upload;
    // A body over the limit is refused before it is sent, in place of 100 Continue.
    server.set_expect_100_continue_handler([limit](const Request &req, Response &res) {
        if (!declared_too_large(req, limit)) return 100;
        refuse(req, res, 413, "Upload too large", too_large_text(limit));
        // This early answer is written without the length of its body.
        res.set_header("Content-Length", std::to_string(res.body.size()));
        return 413;
    });
}

}  // namespace mwconv::serve
