#include "cli/output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace mwconv {

namespace {

bool copy_to_fd(std::FILE *from, int fd) {
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, from)) > 0) {
        const char *p = buffer;
        while (n > 0) {
            const ssize_t w = ::write(fd, p, n);
            if (w < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            p += w;
            n -= static_cast<size_t>(w);
        }
    }
    return std::ferror(from) == 0;
}

}  // namespace

bool deliver(std::FILE *result, const std::string &target, std::string &error) {
    if (target == "-") {
        std::fflush(stdout);
        if (!copy_to_fd(result, STDOUT_FILENO)) {
            error = std::string("cannot write to standard output: ") + std::strerror(errno);
            return false;
        }
        return true;
    }
    std::string temp = target + ".mwconv-XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        error = "cannot write " + target + ": " + std::strerror(errno);
        return false;
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    const bool copied = copy_to_fd(result, fd);
    const bool closed = ::close(fd) == 0;
    if (!copied || !closed || std::rename(temp.c_str(), target.c_str()) != 0) {
        error = "cannot write " + target + ": " + std::strerror(errno);
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace mwconv
