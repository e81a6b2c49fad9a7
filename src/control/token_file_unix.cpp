#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "control/server_options.h"

namespace control {

std::optional<std::string> readTokenFile(const std::string& path, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return std::nullopt;
    }
    struct stat info {};
    std::string text;
    if (::fstat(fd, &info) != 0) {
        error = std::strerror(errno);
    } else if (!S_ISREG(info.st_mode)) {
        error = "not a regular file";
    } else if (info.st_uid != ::geteuid()) {
        error = "belongs to another user";
    } else if ((info.st_mode & 077) != 0) {
        error = "readable by others; chmod 600 it";
    } else {
        char buffer[512];
        ssize_t n = 0;
        while ((n = ::read(fd, buffer, sizeof buffer)) > 0 && text.size() <= kMaxTokenFileBytes) {
            text.append(buffer, static_cast<std::size_t>(n));
        }
        if (n < 0) {
            error = std::strerror(errno);
        }
    }
    ::close(fd);
    if (!error.empty()) {
        return std::nullopt;
    }
    return tokenFromText(text, error);
}

}  // namespace control
