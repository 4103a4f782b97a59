// POSIX file checks: stat before open, so that a FIFO or a device named as
// the settings file is refused without ever being opened, and the open that
// tests readability cannot block.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "CtlConnection.h"

namespace {

std::string ErrnoText(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return "neexistuje";
        case EACCES:
        case EPERM:
            return "nelze číst (přístup odepřen)";
        default:
            return std::string("nelze číst (") + std::strerror(error) + ")";
    }
}

}  // namespace

bool SettingsFileReadable(const std::string& path, std::string& reason) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        reason = ErrnoText(errno);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        reason = "není obyčejný soubor";
        return false;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        reason = ErrnoText(errno);
        return false;
    }
    ::close(fd);
    return true;
}
