// POSIX file checks: stat before open, so that a FIFO or a device named as
// the settings file or a configuration file is refused without ever being
// opened, and no open can block. Configuration files are replaced by
// rename, which POSIX makes atomic within one directory.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "core/Cp1250.h"
#include "core/SmallFile.h"

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

// A configuration file is a few hundred bytes; this only keeps a wrong
// file from being read whole.
constexpr auto kMaxConfigFileSize = static_cast<off_t>(kSmallFileMaxSize);

std::string DirectoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string WriteErrorText(int error) {
    return std::string("nelze zapsat (") + Utf8ToCp1250(std::strerror(error)) + ")";
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

bool ReadSmallFile(const std::string& path, std::string& text, std::string& reason) {
    if (!SettingsFileReadable(path, reason)) return false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        reason = ErrnoText(errno);
        return false;
    }
    std::string content;
    char buffer[4096];
    while (true) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            reason = ErrnoText(errno);
            ::close(fd);
            return false;
        }
        if (n == 0) break;
        content.append(buffer, static_cast<std::size_t>(n));
        if (content.size() > static_cast<std::size_t>(kMaxConfigFileSize)) {
            reason = "příliš velký soubor";
            ::close(fd);
            return false;
        }
    }
    ::close(fd);
    text = std::move(content);
    return true;
}

bool WritableTarget(const std::string& path, std::string& reason) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0) {
        if (!S_ISREG(info.st_mode)) {
            reason = "není obyčejný soubor";
            return false;
        }
    } else if (errno != ENOENT) {
        reason = ErrnoText(errno);
        return false;
    }
    const std::string dir = DirectoryOf(path);
    if (::stat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        reason = "adresář neexistuje";
        return false;
    }
    if (::access(dir.c_str(), W_OK) != 0) {
        reason = "do adresáře nelze zapisovat";
        return false;
    }
    return true;
}

bool WriteFileAtomically(const std::string& path, const std::string& text, std::string& reason) {
    if (!WritableTarget(path, reason)) return false;
    struct stat info {};
    mode_t mode = 0;
    if (::stat(path.c_str(), &info) == 0) {
        mode = info.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        reason = WriteErrorText(errno);
        return false;
    }
    const bool written = ::fchmod(fd, mode) == 0 && WriteAll(fd, text) && ::fsync(fd) == 0;
    const int error = errno;
    if (::close(fd) != 0 || !written) {
        reason = WriteErrorText(written ? errno : error);
        ::unlink(temp.c_str());
        return false;
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        reason = WriteErrorText(errno);
        ::unlink(temp.c_str());
        return false;
    }
    // The rename itself lasts only once the directory is on disk.
    const int dir = ::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}
