#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <cwchar>
#include <optional>

#include "lib/cleanup.h"
#include "lib/system.h"
#include "host/scratch.h"
#include "host/wide.h"

namespace mwconv::sys {

namespace {

using kavrel::narrow;
using kavrel::wide;

bool handle_id(HANDLE h, FileId &id) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(h, &info)) return false;
    id = FileId{info.dwVolumeSerialNumber, static_cast<uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow};
    return true;
}

}  // namespace

std::vector<std::string> arguments(int argc, char **argv) {
    int n = 0;
    LPWSTR *w = ::CommandLineToArgvW(::GetCommandLineW(), &n);
    if (w == nullptr) return {argv, argv + argc};
    std::vector<std::string> args;
    for (int i = 0; i < n; ++i) args.push_back(narrow(w[i]));
    ::LocalFree(w);
    return args;
}

void binary_standard_streams() {
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
}

std::filesystem::path to_path(const std::string &utf8) { return std::filesystem::path(wide(utf8)); }
std::string utf8_of(const std::filesystem::path &path) { return narrow(path.wstring()); }

std::FILE *open_file(const std::string &path, const char *mode) {
    return ::_wfopen(wide(path).c_str(), wide(mode).c_str());
}

bool is_folder(std::FILE *f) {
    struct _stat st;
    return ::_fstat(_fileno(f), &st) == 0 && (st.st_mode & _S_IFDIR) != 0;
}

std::FILE *reopen_for_reading(std::FILE *f) {
    const int fd = ::_dup(_fileno(f));
    if (fd < 0) return nullptr;
    std::FILE *copy = ::_fdopen(fd, "rb");
    if (copy == nullptr) ::_close(fd);
    return copy;
}

std::string executable_dir() {
    wchar_t path[MAX_PATH * 4];
    const DWORD n = ::GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
    std::string p = narrow(std::wstring(path, n));
    const auto slash = p.find_last_of("\\/");
    return slash == std::string::npos ? "." : p.substr(0, slash);
}

bool file_id(const std::string &path, FileId &id) {
    HANDLE h = ::CreateFileW(wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool ok = handle_id(h, id);
    ::CloseHandle(h);
    return ok;
}

bool file_id(std::FILE *f, FileId &id) {
    HANDLE h = reinterpret_cast<HANDLE>(::_get_osfhandle(_fileno(f)));
    return h != INVALID_HANDLE_VALUE && ::GetFileType(h) == FILE_TYPE_DISK && handle_id(h, id);
}

bool stderr_is_terminal() { return ::_isatty(_fileno(stderr)) != 0; }

size_t terminal_width() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (::GetConsoleScreenBufferInfo(::GetStdHandle(STD_ERROR_HANDLE), &info)) {
        const int width = info.srWindow.Right - info.srWindow.Left + 1;
        if (width > 20) return static_cast<size_t>(width);
    }
    return 80;
}

std::FILE *create_unique(const std::string &folder, const std::string &prefix, std::string &path,
                         const std::function<void(const std::string &)> &claim) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        path = folder + "\\" + prefix + unique_suffix();
        claim(path);
        const int fd = ::_wopen(wide(path).c_str(), _O_RDWR | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                                _S_IREAD | _S_IWRITE);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return nullptr;
        }
        std::FILE *f = ::_fdopen(fd, "w+b");
        if (f == nullptr) {
            ::_close(fd);
            remove_file(path);
        }
        return f;
    }
    errno = EEXIST;
    return nullptr;
}

bool remove_file(const std::string &path) { return ::_wremove(wide(path).c_str()) == 0; }

namespace {

// Windows cannot remove an open file: the output becomes a scratch copy
// and the named file is closed and removed.
void forget_name(std::FILE *&f, const std::string &path) {
    std::FILE *copy = kavrel::open_scratch_stream();
    std::rewind(f);
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) std::fwrite(buffer, 1, n, copy);
    if (std::ferror(f)) kavrel::record_scratch_failure(EIO);
    kavrel::check_stream(copy);
    std::fclose(f);
    remove_file(path);
    f = copy;
}

thread_local std::optional<PendingFile> t_named_guard;

}  // namespace

std::FILE *open_named_scratch(const std::string &folder, std::string &path) {
    t_named_guard.emplace();
    return create_unique(folder, "mwconv-", path, [&](const std::string &p) { t_named_guard->track(p); });
}

void release_named_scratch(std::FILE *&f, const std::string &path) {
    if (f != nullptr) forget_name(f, path);
    else remove_file(path);
    t_named_guard.reset();
}

// Each import has a file of its own, removed when it is done.
void empty_kept_scratch() {}
void release_kept_scratch() {}

Target target_kind(const std::string &path) {
    const std::wstring w = wide(path);
    if (_wcsicmp(w.c_str(), L"NUL") == 0 || _wcsicmp(w.c_str(), L"CON") == 0) return Target::Stream;
    const DWORD attributes = ::GetFileAttributesW(w.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return Target::Missing;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return Target::Folder;
    return Target::Regular;
}

// Windows links are rare in archives of old documents; a link is replaced as a file.
std::string resolve_target(const std::string &target) { return target; }

void copy_permissions(const std::string &, std::FILE *) {}

bool replace(const std::string &temp, const std::string &target) {
    if (::MoveFileExW(wide(temp).c_str(), wide(target).c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    errno = EACCES;
    return false;
}

void *load_library(const std::string &path, std::string &error) {
    HMODULE module = ::LoadLibraryW(wide(path).c_str());
    if (module == nullptr) error = "cannot load " + path + " (error " + std::to_string(::GetLastError()) + ")";
    return reinterpret_cast<void *>(module);
}

void *library_symbol(void *library, const char *name) {
    return reinterpret_cast<void *>(::GetProcAddress(static_cast<HMODULE>(library), name));
}

void close_library(void *library) { ::FreeLibrary(static_cast<HMODULE>(library)); }
const char *library_suffix() { return ".dll"; }

std::string error_text(int error) { return std::strerror(error); }

}  // namespace mwconv::sys
