#include "serve/upload.h"

#include "host/scratch.h"

namespace mwconv::serve {

namespace {

// Counts what arrives against the limits and writes the chosen bytes.
struct Intake {
    const Limits &limits;
    Upload &upload;
    uint64_t seen = 0;
    bool too_large = false, timed_out = false, no_scratch = false;

    bool open() {
        upload.file.reset(kavrel::try_scratch_stream());
        no_scratch = !upload.file;
        return !no_scratch;
    }

    bool take(const char *data, size_t n, bool keep) {
        seen += n;
        if (seen > limits.max_upload) return !(too_large = true);
        if (std::chrono::steady_clock::now() > limits.deadline) return !(timed_out = true);
        if (!keep || n == 0) return true;
        if (std::fwrite(data, 1, n, upload.file.get()) != n) return !(no_scratch = true);
        upload.size += n;
        return true;
    }

    Receipt verdict(bool read_whole) const {
        if (too_large) return Receipt::TooLarge;
        if (timed_out) return Receipt::TimedOut;
        if (no_scratch) return Receipt::NoScratch;
        if (!read_whole) {
            // A read that stopped by itself past the deadline timed out.
            return std::chrono::steady_clock::now() > limits.deadline ? Receipt::TimedOut : Receipt::Malformed;
        }
        return Receipt::Whole;
    }
};

Receipt finish(Upload &upload, Receipt receipt) {
    if (receipt != Receipt::Whole) {
        upload.file.reset();
        return receipt;
    }
    if (std::fflush(upload.file.get()) != 0) {
        upload.file.reset();
        return Receipt::NoScratch;
    }
    std::rewind(upload.file.get());
    return upload.size == 0 ? Receipt::Empty : Receipt::Whole;
}

}  // namespace

std::string input_name(const std::string &filename) {
    const auto slash = filename.find_last_of("/\\");
    std::string name = slash == std::string::npos ? filename : filename.substr(slash + 1);
    if (name == "." || name == "..") return {};
    for (char c : name)
        if (static_cast<unsigned char>(c) < 0x20) return {};
    return name;
}

Receipt receive(const httplib::Request &req, const httplib::ContentReader &reader, const Limits &limits, Upload &upload) {
    Intake intake{limits, upload};
    if (!req.is_multipart_form_data()) {
        if (!intake.open()) return Receipt::NoScratch;
        const bool whole = reader([&](const char *data, size_t n) { return intake.take(data, n, true); });
        return finish(upload, intake.verdict(whole));
    }
    // The first part with a file name is the upload; the others are read past.
    enum { Before, Taking, After } state = Before;
    const bool whole = reader(
        [&](const httplib::MultipartFormData &part) {
            if (state == Taking) state = After;
            if (state == Before && !part.filename.empty()) {
                if (!intake.open()) return false;
                upload.name = input_name(part.filename);
                state = Taking;
            }
            return true;
        },
        [&](const char *data, size_t n) { return intake.take(data, n, state == Taking); });
    const Receipt receipt = intake.verdict(whole);
    if (receipt == Receipt::Whole && !upload.file) return Receipt::NoFile;
    return finish(upload, receipt);
}

}  // namespace mwconv::serve
