#include "render/package.h"

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "host/scratch.h"
#include "render/libzip.h"  // libzip's functions, loaded at first use

namespace render {

std::string w3c_date(int64_t unix_seconds) {
    using namespace std::chrono;
    const sys_seconds t{seconds{unix_seconds}};
    const sys_days day = floor<days>(t);
    const year_month_day ymd{day};
    const hh_mm_ss<seconds> time{t - day};
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02ld:%02ld:%02ldZ", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()), static_cast<long>(time.hours().count()),
                  static_cast<long>(time.minutes().count()), static_cast<long>(time.seconds().count()));
    return text;
}

namespace {

// libzip keeps an entry's date as a time_t and writes it in local time.
// Entries carry 1980-01-01 00:00 local time, the earliest date a zip entry
// can carry, a date that says nothing about when the package was made: the
// instant that shows as that date here.  It is found with localtime_r alone:
// mktime (and libzip's zip_file_set_dostime, which calls it) makes glibc
// read the time zone again on every call, freeing and re-allocating its
// name while other threads may be writing packages too.
time_t dos_epoch() {
    constexpr time_t kUtc = 315532800;  // 1980-01-01 00:00 UTC
    time_t t = kUtc;
    std::tm local{};
    // Twice: the offset at the first guess may differ from the one at kUtc.
    for (int i = 0; i < 2; ++i)
        if (localtime_r(&t, &local) != nullptr) t = kUtc - local.tm_gmtoff;
    return t;
}
// A regular file that everyone may read, as a Unix system says it.
constexpr zip_uint32_t kUnixAttributes = 0100644u << 16;

zip_int64_t failed(zip_error_t &error, int code) {
    zip_error_set(&error, code, errno);
    return -1;
}

zip_stat_t *stat_args(void *data, zip_uint64_t length, zip_error_t &error) {
    return ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &error);
}

// The archive's destination as libzip sees it: a new, empty archive that is
// written into the output stream from where that stream stands.
struct Output {
    std::FILE *file = nullptr;
    long base = 0;
    zip_error_t error{};
};

zip_int64_t seek_output(Output &o, void *data, zip_uint64_t length) {
    const auto *args = ZIP_SOURCE_GET_ARGS(zip_source_args_seek_t, data, length, &o.error);
    if (args == nullptr) return -1;
    const long offset = static_cast<long>(args->offset);
    if (std::fseek(o.file, args->whence == SEEK_SET ? o.base + offset : offset, args->whence) != 0 ||
        std::ftell(o.file) < o.base)
        return failed(o.error, ZIP_ER_SEEK);
    return 0;
}

zip_int64_t output_op(void *user, void *data, zip_uint64_t length, zip_source_cmd_t command) {
    Output &o = *static_cast<Output *>(user);
    switch (command) {
    case ZIP_SOURCE_SUPPORTS: return ZIP_SOURCE_SUPPORTS_WRITABLE;
    case ZIP_SOURCE_STAT: {
        zip_stat_t *st = stat_args(data, length, o.error);
        if (st == nullptr) return -1;
        zip_stat_init(st);
        st->valid = ZIP_STAT_SIZE;
        st->size = 0;
        return sizeof *st;
    }
    case ZIP_SOURCE_SEEK: return zip_source_seek_compute_offset(0, 0, data, length, &o.error) < 0 ? -1 : 0;
    case ZIP_SOURCE_OPEN:
    case ZIP_SOURCE_READ:
    case ZIP_SOURCE_TELL:
    case ZIP_SOURCE_CLOSE:
    case ZIP_SOURCE_FREE:
    case ZIP_SOURCE_REMOVE:
    case ZIP_SOURCE_ROLLBACK_WRITE: return 0;
    case ZIP_SOURCE_BEGIN_WRITE:
        o.base = std::ftell(o.file);
        return o.base < 0 ? failed(o.error, ZIP_ER_SEEK) : 0;
    case ZIP_SOURCE_WRITE:
        return std::fwrite(data, 1, length, o.file) == length ? static_cast<zip_int64_t>(length)
                                                              : failed(o.error, ZIP_ER_WRITE);
    case ZIP_SOURCE_SEEK_WRITE: return seek_output(o, data, length);
    case ZIP_SOURCE_TELL_WRITE: {
        const long at = std::ftell(o.file);
        return at < 0 ? failed(o.error, ZIP_ER_TELL) : at - o.base;
    }
    case ZIP_SOURCE_COMMIT_WRITE: return std::fflush(o.file) == 0 ? 0 : failed(o.error, ZIP_ER_WRITE);
    case ZIP_SOURCE_ERROR: return zip_error_to_data(&o.error, data, length);
    default: zip_error_set(&o.error, ZIP_ER_OPNOTSUPP, 0); return -1;
    }
}

// A part's bytes, piece after piece, for libzip to read when it writes the
// archive.  It reports no date or attributes of its own.
struct PieceReader {
    std::vector<Package::Piece> pieces;
    size_t index = 0, offset = 0;
    zip_uint64_t size = 0;
    zip_error_t error{};

    explicit PieceReader(std::vector<Package::Piece> p) : pieces(std::move(p)) {
        for (Package::Piece &piece : pieces) {
            if (piece.file && piece.length < 0) {
                const long end = std::fseek(piece.file.get(), 0, SEEK_END) == 0 ? std::ftell(piece.file.get()) : 0;
                piece.length = std::max(0L, end - piece.offset);
            }
            size += piece.file ? static_cast<zip_uint64_t>(piece.length) : piece.text.size();
        }
    }

    // The bytes since the start of the current piece count in `offset`:
    // shared streams are sought to their place whenever a piece begins.
    zip_int64_t read(char *data, zip_uint64_t length) {
        for (; index < pieces.size(); ++index, offset = 0) {
            const Package::Piece &piece = pieces[index];
            const size_t left = piece.file ? static_cast<size_t>(piece.length) - offset : piece.text.size() - offset;
            const auto n = static_cast<size_t>(std::min<zip_uint64_t>(length, left));
            if (n == 0) continue;
            if (!piece.file) {
                std::memcpy(data, piece.text.data() + offset, n);
            } else {
                std::FILE *f = piece.file.get();
                if (std::fseek(f, piece.offset + static_cast<long>(offset), SEEK_SET) != 0)
                    return failed(error, ZIP_ER_SEEK);
                if (std::fread(data, 1, n, f) != n) return failed(error, ZIP_ER_READ);
            }
            offset += n;
            return static_cast<zip_int64_t>(n);
        }
        return 0;
    }
};

zip_int64_t piece_op(void *user, void *data, zip_uint64_t length, zip_source_cmd_t command) {
    PieceReader &r = *static_cast<PieceReader *>(user);
    switch (command) {
    case ZIP_SOURCE_SUPPORTS: return ZIP_SOURCE_SUPPORTS_READABLE;
    case ZIP_SOURCE_OPEN:
        r.index = r.offset = 0;
        return 0;
    case ZIP_SOURCE_READ: return r.read(static_cast<char *>(data), length);
    case ZIP_SOURCE_CLOSE: return 0;
    case ZIP_SOURCE_STAT: {
        zip_stat_t *st = stat_args(data, length, r.error);
        if (st == nullptr) return -1;
        zip_stat_init(st);
        st->valid = ZIP_STAT_SIZE;
        st->size = r.size;
        return sizeof *st;
    }
    case ZIP_SOURCE_ERROR: return zip_error_to_data(&r.error, data, length);
    case ZIP_SOURCE_FREE: delete &r; return 0;
    default: zip_error_set(&r.error, ZIP_ER_OPNOTSUPP, 0); return -1;
    }
}

}  // namespace

std::shared_ptr<std::FILE> Package::scratch() {
    return std::shared_ptr<std::FILE>(kavrel::open_scratch_stream(), [](std::FILE *f) { std::fclose(f); });
}

void Media::add(int number, const std::string &data, bool png) {
    if (!stream_) stream_ = Package::scratch();
    ok_ = ok_ && std::fwrite(data.data(), 1, data.size(), stream_.get()) == data.size();
    files_.push_back({number, png, end_, static_cast<long>(data.size())});
    end_ += static_cast<long>(data.size());
}

bool Media::has(bool png) const {
    return std::any_of(files_.begin(), files_.end(), [&](const File &f) { return f.png == png; });
}

struct Package::State {
    Output output;
    zip_t *zip = nullptr;
    time_t modified = dos_epoch();
    bool ok = true;
};

Package::Package(std::FILE *out) : state_(std::make_unique<State>()) {
    state_->output.file = out;
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t *destination = zip_source_function_create(output_op, &state_->output, &error);
    if (destination != nullptr) {
        state_->zip = zip_open_from_source(destination, ZIP_TRUNCATE, &error);
        if (state_->zip == nullptr) zip_source_free(destination);
    }
    zip_error_fini(&error);
    state_->ok = state_->zip != nullptr;
}

Package::~Package() {
    if (state_->zip != nullptr) zip_discard(state_->zip);
}

void Package::add(const std::string &name, std::vector<Piece> pieces, bool stored) {
    auto *reader = new PieceReader(std::move(pieces));
    zip_t *zip = state_->zip;
    zip_source_t *source = zip == nullptr ? nullptr : zip_source_function(zip, piece_op, reader);
    if (source == nullptr) {
        delete reader;
        state_->ok = false;
        return;
    }
    const zip_int64_t index = zip_file_add(zip, name.c_str(), source, 0);
    if (index < 0) {
        zip_source_free(source);  // and with it the reader
        state_->ok = false;
        return;
    }
    const auto i = static_cast<zip_uint64_t>(index);
    state_->ok = state_->ok && zip_set_file_compression(zip, i, stored ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 0) == 0 &&
                 zip_file_set_mtime(zip, i, state_->modified, 0) == 0 &&
                 zip_file_set_external_attributes(zip, i, 0, ZIP_OPSYS_UNIX, kUnixAttributes) == 0;
}

bool Package::close() {
    zip_t *zip = state_->zip;
    if (zip == nullptr) return false;
    state_->zip = nullptr;
    if (zip_close(zip) != 0) {
        zip_discard(zip);
        return false;
    }
    return state_->ok && std::ferror(state_->output.file) == 0;
}

}  // namespace render
