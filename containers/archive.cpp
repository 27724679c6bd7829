// General archives through libarchive: zip, tar (plain, gzip, bzip2, xz),
// 7z, cpio and ISO 9660.  libarchive reads our Source through callbacks, so
// that a zip's central directory is read where it lies; members are decoded
// into scratch files, never more than they declare nor more than the
// archive's size can honestly expand to.
//
// AppleDouble companions ("._NAME", "__MACOSX/DIR/._NAME") are read in a
// first pass over the headers and joined to their data files in the second;
// they are not members of their own.  A member's resource fork is its
// companion's, decoded when asked for (an NDIF image's chunk table lies
// there) through a reader of its own that goes to the companion's entry
// again, whether it lies before or after the member.
#include <algorithm>
#include <clocale>
#include <cstring>
#include <map>
#include <set>
#include <string_view>

#include "containers/applesingle.h"
#include "containers/formats.h"
#include "containers/libarchive.h"  // libarchive's functions, loaded at first use
#include "containers/names.h"
#include "containers/decoded.h"
#include "containers/source.h"
#include "mactext/roman.h"

namespace containers {

namespace {

// Deflate, the most used method, expands at most about 1032 times; a member
// may claim this many times its archive's size, or this floor, no more.
constexpr uint64_t kMostExpansion = 1100;
constexpr uint64_t kFloor = uint64_t{256} << 20;
// What a companion's Finder information needs: its header and first entries.
constexpr size_t kCompanionHead = 65536;
// Companions remembered per archive, at most.
constexpr size_t kMostCompanions = 100000;

struct Reader {
    std::shared_ptr<const Source> source;
    uint64_t position = 0;
    std::vector<uint8_t> buffer = std::vector<uint8_t>(65536);
};

la_ssize_t read_callback(archive *, void *client, const void **block) {
    auto *r = static_cast<Reader *>(client);
    try {
        const size_t n = r->source->read_at(r->position, r->buffer.data(), r->buffer.size());
        r->position += n;
        *block = r->buffer.data();
        return static_cast<la_ssize_t>(n);
    } catch (const Error &) {
        return -1;
    }
}

la_int64_t skip_callback(archive *, void *client, la_int64_t request) {
    auto *r = static_cast<Reader *>(client);
    const uint64_t left = r->source->size() - std::min(r->position, r->source->size());
    const uint64_t n = std::min<uint64_t>(static_cast<uint64_t>(std::max<la_int64_t>(request, 0)), left);
    r->position += n;
    return static_cast<la_int64_t>(n);
}

la_int64_t seek_callback(archive *, void *client, la_int64_t offset, int whence) {
    auto *r = static_cast<Reader *>(client);
    const auto size = static_cast<la_int64_t>(r->source->size());
    la_int64_t to = whence == SEEK_SET ? offset : whence == SEEK_CUR ? static_cast<la_int64_t>(r->position) + offset : size + offset;
    if (to < 0) return ARCHIVE_FATAL;
    r->position = static_cast<uint64_t>(to);
    return to;
}

struct ArchiveFree {
    void operator()(archive *a) const { archive_read_free(a); }
};
using Handle = std::unique_ptr<archive, ArchiveFree>;

// A libarchive reader over `reader`'s source, for the formats we read.
Handle open_handle(Reader &reader) {
    if (const char *why = libarchive_missing()) throw Error(Grade::kFatal, why);
    Handle a(archive_read_new());
    if (!a) throw Error(Grade::kFatal, "out of memory");
    for (auto support : {archive_read_support_format_zip, archive_read_support_format_tar, archive_read_support_format_gnutar,
                         archive_read_support_format_7zip, archive_read_support_format_cpio, archive_read_support_format_iso9660})
        support(a.get());
    for (auto support : {archive_read_support_filter_gzip, archive_read_support_filter_bzip2, archive_read_support_filter_xz,
                         archive_read_support_filter_lzma, archive_read_support_filter_zstd, archive_read_support_filter_compress})
        support(a.get());
    archive_read_set_read_callback(a.get(), read_callback);
    archive_read_set_skip_callback(a.get(), skip_callback);
    archive_read_set_seek_callback(a.get(), seek_callback);
    archive_read_set_callback_data(a.get(), &reader);
    if (archive_read_open1(a.get()) != ARCHIVE_OK) {
        const char *why = archive_error_string(a.get());
        throw Error(Grade::kFatal, std::string("not an archive that can be read: ") + (why ? why : "unknown format"));
    }
    return a;
}

std::string error_of(archive *a) {
    const char *why = archive_error_string(a);
    return why != nullptr ? why : "the archive is damaged";
}

// libarchive gives an entry's name in the calling thread's locale, and a
// name that the locale cannot spell it gives as no name at all: in the C
// locale, that of every program that never sets one, each accented UTF-8
// name is lost.  Every call into libarchive here runs under a UTF-8 locale
// of its thread's own, whatever the process's, so that names come as UTF-8
// (decomposed ones composed, as libarchive reads UTF-8 into UTF-8).
#ifndef _WIN32
class Utf8Locale {
public:
    Utf8Locale() : locale_(newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{})) {}
    ~Utf8Locale() {
        if (locale_ != locale_t{}) freelocale(locale_);
    }
    Utf8Locale(const Utf8Locale &) = delete;
    Utf8Locale &operator=(const Utf8Locale &) = delete;
    locale_t get() const { return locale_; }

private:
    locale_t locale_;
};

// One for the process, made at first use and never changed: a locale made
// and freed at every call had the C library load and free its conversions
// each time, from every thread at once.
const Utf8Locale &utf8_locale() {
    static const Utf8Locale locale;
    return locale;
}

// The thread's locale is the UTF-8 one while this lives.
class InLocale {
public:
    InLocale() : previous_(utf8_locale().get() != locale_t{} ? uselocale(utf8_locale().get()) : locale_t{}) {}
    ~InLocale() {
        if (previous_ != locale_t{}) uselocale(previous_);
    }
    InLocale(const InLocale &) = delete;
    InLocale &operator=(const InLocale &) = delete;

private:
    locale_t previous_;
};
#else
// On Windows libarchive reads names into wide characters, whatever the locale.
struct InLocale {};
#endif

// The entry's path; `note` says how a name that is not UTF-8 was read.  A
// zip names in CP437 what it does not flag as UTF-8; other archives have no
// say, and a name in them that is not UTF-8 is read as Mac OS Roman, the
// character set of the Macs whose files these are.
std::vector<std::string> entry_path(archive *a, archive_entry *e, std::string &note) {
    note.clear();
    if (const char *utf8 = archive_entry_pathname_utf8(e)) return split_archive_path(utf8);
    const char *raw = archive_entry_pathname(e);
    if (raw == nullptr) return {};
    if (is_utf8(raw)) return split_archive_path(raw);
    const bool zip = (archive_format(a) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_ZIP;
    note = std::string("its name is not UTF-8; read as ") + (zip ? "CP437, as a zip's unflagged names are" : "Mac OS Roman");
    return split_archive_path(zip ? cp437_to_utf8(raw) : mactext::mac_roman_to_utf8(raw));
}

std::string joined(const std::vector<std::string> &path) {
    std::string s;
    for (const std::string &p : path) s += p + '/';
    return s;
}

bool is_metadata(const std::vector<std::string> &path) {
    return !path.empty() && (path.front() == "__MACOSX" || companion_of(path.back()));
}

// The first bytes of a member, standing for a member of its declared size:
// reads past them find nothing.
class Prefix final : public Source {
public:
    Prefix(std::vector<uint8_t> bytes, uint64_t size) : bytes_(std::move(bytes)), size_(size) {}
    uint64_t size() const override { return size_; }
    size_t read_at(uint64_t offset, void *buffer, size_t n) const override {
        if (offset >= bytes_.size()) return 0;
        n = static_cast<size_t>(std::min<uint64_t>(n, bytes_.size() - offset));
        std::memcpy(buffer, bytes_.data() + offset, n);
        return n;
    }

private:
    std::vector<uint8_t> bytes_;
    uint64_t size_;
};

// Signatures at the start of what libarchive reads here (or of a tar
// header's checksum field), so that most files are never handed to it.
bool looks_like_archive(const Source &source, const uint8_t *h, size_t n) {
    auto starts = [&](std::string_view magic) { return n >= magic.size() && std::memcmp(h, magic.data(), magic.size()) == 0; };
    using namespace std::string_view_literals;
    for (std::string_view magic : {"PK\3\4"sv, "PK\5\6"sv, "\x1f\x8b"sv, "BZh"sv, "\xfd" "7zXZ\0"sv, "7z\xbc\xaf\x27\x1c"sv,
                                   "070707"sv, "070701"sv, "070702"sv, "\x71\xc7"sv, "\xc7\x71"sv, "\x28\xb5\x2f\xfd"sv,
                                   "\x1f\x9d"sv, "\x5d\0\0"sv})
        if (starts(magic)) return true;
    if (n >= 512) {
        if (std::memcmp(h + 257, "ustar", 5) == 0) return true;
        // An old tar header: its checksum field octal digits, ended by NUL or space.
        bool digits = h[148] != 0;
        for (size_t i = 148; i < 154 && digits; ++i) digits = (h[i] >= '0' && h[i] <= '7') || h[i] == ' ';
        if (digits && h[0] != 0) return true;
    }
    uint8_t volume[6];
    return source.read_at(32769, volume, 5) == 5 && std::memcmp(volume, "CD001", 5) == 0;
}

int bid(const Source &source, const uint8_t *head, size_t length) {
    if (source.size() == 0 || !looks_like_archive(source, head, length)) return 0;
    // Without libarchive, what looks like an archive is still one: opening
    // it says why it cannot be read, rather than calling it no document.
    if (libarchive_missing() != nullptr) return 1;
    try {
        const InLocale in;
        Reader reader{std::shared_ptr<const Source>(std::shared_ptr<const Source>{}, &source)};
        Handle a = open_handle(reader);
        archive_entry *e = nullptr;
        // An archive without one entry (or 512 zero bytes, which libarchive
        // takes for an empty tar) is a file, not a container.
        const int rc = archive_read_next_header(a.get(), &e);
        return rc == ARCHIVE_OK || rc == ARCHIVE_WARN ? 60 : 0;
    } catch (const Error &) {
        return 0;
    }
}

class Archive final : public Container {
public:
    explicit Archive(std::shared_ptr<const Source> source)
        : reader_{source}, budget_(std::max(kFloor, kMostExpansion * source->size())) {
        const InLocale in;
        read_companions(source);
        handle_ = open_handle(reader_);
    }

    bool next(Member &member) override {
        data_given_ = false;
        if (ended_) return false;
        const InLocale in;
        for (;;) {
            archive_entry *e = nullptr;
            const int rc = archive_read_next_header(handle_.get(), &e);
            if (rc == ARCHIVE_EOF) return false;
            if (rc == ARCHIVE_FATAL || rc == ARCHIVE_RETRY || e == nullptr) throw Error(Grade::kFatal, error_of(handle_.get()));
            ++entries_;
            std::string note;
            std::vector<std::string> path = entry_path(handle_.get(), e, note);
            // Folders are made as their files need them; links and devices
            // are never followed nor made.
            if (archive_entry_filetype(e) != AE_IFREG || archive_entry_hardlink(e) != nullptr || is_metadata(path)) continue;
            member = Member{};
            // A file whose name cannot be read is still a member: it is
            // told by its place, never passed over.
            if (path.empty()) {
                path = {"(entry " + std::to_string(entries_) + ")"};
                member.problem = "its name cannot be read (" +
                                 (rc == ARCHIVE_WARN ? error_of(handle_.get()) : std::string("it has none")) + "); not read";
            } else if (rc == ARCHIVE_WARN) {
                member.warning = error_of(handle_.get());
            } else {
                member.warning = note;
            }
            member.path = path;
            if (archive_entry_mtime_is_set(e)) member.modified = archive_entry_mtime(e);
            if (archive_entry_birthtime_is_set(e)) member.created = archive_entry_birthtime(e);
            declared_ = archive_entry_size_is_set(e) ? static_cast<uint64_t>(std::max<la_int64_t>(archive_entry_size(e), 0)) : 0;
            member.data_length = declared_;
            companion_.reset();
            if (const auto c = companions_.find(joined(path)); c != companions_.end()) {
                apply(c->second, member);
                companion_ = c->second;
            }
            if (!member.problem.empty()) {
                // Told already.
            } else if (rc == ARCHIVE_FAILED) {
                member.problem = error_of(handle_.get());
            } else if (archive_entry_is_encrypted(e)) {
                member.problem = "encrypted; cannot be read";
            } else if (declared_ > budget_) {
                // Reaching the members after it would mean decoding it.
                member.problem = "claims " + std::to_string(declared_) + " bytes, more than an archive of " +
                                 std::to_string(reader_.source->size()) + " bytes can hold; it and the members after it not read";
                ended_ = true;
            }
            problem_ = member.problem;
            sized_ = archive_entry_size_is_set(e) != 0;
            return true;
        }
    }

    std::unique_ptr<Source> data() override {
        if (!problem_.empty()) throw Error(Grade::kMember, problem_);
        if (data_given_) throw Error(Grade::kMember, "its data was read already");
        data_given_ = true;
        const InLocale in;
        std::shared_ptr<const Source> decoded = decode(handle_.get(), sized_ ? declared_ : budget_);
        const uint64_t length = decoded->size();
        return range(std::move(decoded), 0, length);
    }

    std::unique_ptr<Source> resource() override {
        if (!companion_ || companion_->resource_length == 0)
            throw Error(Grade::kMember, "it has no resource fork (no AppleDouble companion gives one)");
        const InLocale in;
        Reader reader{reader_.source};
        Handle a = open_handle(reader);
        archive_entry *e = nullptr;
        for (size_t i = 0; i <= companion_->entry; ++i) {
            // Passing a member may mean decoding it (in a compressed tar):
            // what is passed is taken from the budget, so that asking again
            // and again cannot take the archive's size over and over.
            if (e != nullptr) take(static_cast<uint64_t>(std::max<la_int64_t>(archive_entry_size(e), 0)));
            const int rc = archive_read_next_header(a.get(), &e);
            if (rc != ARCHIVE_OK && rc != ARCHIVE_WARN)
                throw Error(Grade::kMember, "its AppleDouble companion cannot be read again: " + error_of(a.get()));
        }
        std::string note;
        if (joined(entry_path(a.get(), e, note)) != companion_->path)
            throw Error(Grade::kMember, "its AppleDouble companion is not where the archive listed it");
        return companion_resource(decode(a.get(), std::min(companion_->size, budget_)));
    }

private:
    struct Finder {
        std::string type, creator;
        uint16_t flags = 0;
        std::optional<int64_t> created, modified;
        uint64_t resource_length = 0;
        // Where the companion itself lies: its header's place among the
        // archive's headers, its path and its declared size.
        size_t entry = 0;
        std::string path;
        uint64_t size = 0;
    };

    // Takes `n` bytes from the archive's budget, or throws Error (kMember)
    // when it has not as many left.
    void take(uint64_t n) {
        if (n > budget_)
            throw Error(Grade::kMember, "reading its resource fork would decode more than an archive of " +
                                            std::to_string(reader_.source->size()) + " bytes can hold; not read");
        budget_ -= n;
    }

    // The current entry of `a` decoded into a scratch file, `cap` bytes at
    // most, taken from the archive's budget.
    std::shared_ptr<const Source> decode(archive *a, uint64_t cap) {
        ScratchWriter out;
        std::vector<uint8_t> block(65536);
        for (;;) {
            const la_ssize_t n = archive_read_data(a, block.data(), block.size());
            if (n < 0) throw Error(Grade::kMember, error_of(a));
            if (n == 0) break;
            if (out.written() + static_cast<uint64_t>(n) > cap)
                throw Error(Grade::kMember, "holds more than the " + std::to_string(cap) + " bytes it may; not read");
            out.write(block.data(), static_cast<size_t>(n));
        }
        budget_ -= out.written();
        return out.finish();
    }

    static void apply(const Finder &f, Member &m) {
        m.type = f.type;
        m.creator = f.creator;
        m.finder_flags = f.flags;
        if (f.created) m.created = f.created;
        if (f.modified) m.modified = f.modified;
        m.resource_length = f.resource_length;
    }

    // The first pass: every AppleDouble companion's Finder information, by
    // the path of the data file it belongs to.
    void read_companions(const std::shared_ptr<const Source> &source) {
        Reader reader{source};
        Handle a = open_handle(reader);
        archive_entry *e = nullptr;
        // Passing a member decodes it: the pass stops where the members
        // passed claim more than the archive's budget.
        uint64_t passed = 0;
        for (size_t entry = 0;; ++entry) {
            if (const int rc = archive_read_next_header(a.get(), &e); rc != ARCHIVE_OK && rc != ARCHIVE_WARN) break;
            const uint64_t size = static_cast<uint64_t>(std::max<la_int64_t>(archive_entry_size(e), 0));
            passed += size;
            if (passed > budget_) break;
            if (archive_entry_filetype(e) != AE_IFREG || companions_.size() >= kMostCompanions) continue;
            std::string note;
            const std::vector<std::string> path = entry_path(a.get(), e, note);
            const auto target = companion_target(path);
            if (!target) continue;
            std::vector<uint8_t> head(kCompanionHead);
            const la_ssize_t n = archive_read_data(a.get(), head.data(), head.size());
            if (n <= 0) continue;
            head.resize(static_cast<size_t>(n));
            Member read;
            if (!apply_companion(Prefix(std::move(head), std::max(size, static_cast<uint64_t>(n))), read)) continue;
            // A companion of no declared size is capped by the budget alone.
            const uint64_t cap = archive_entry_size_is_set(e) ? size : UINT64_MAX;
            companions_[joined(*target)] = Finder{read.type,           read.creator, read.finder_flags, read.created,
                                                  read.modified,       read.resource_length, entry, joined(path), cap};
        }
    }

    Reader reader_;
    Handle handle_;
    std::map<std::string, Finder> companions_;
    std::optional<Finder> companion_;  // the current member's
    uint64_t budget_;
    uint64_t declared_ = 0;
    size_t entries_ = 0;  // headers read, for a member without a name
    bool sized_ = false, data_given_ = false, ended_ = false;
    std::string problem_;
};

std::unique_ptr<Container> open(std::shared_ptr<const Source> source) { return std::make_unique<Archive>(std::move(source)); }

}  // namespace

const Format &libarchive_format() {
    static const Format format{"archive", bid, open};
    return format;
}

}  // namespace containers
