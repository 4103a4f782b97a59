// The --output file on POSIX: O_APPEND puts every write at the file's end
// as it is then, whoever truncated it in between.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/AppendFile.h"
#include "core/Cp1250.h"

namespace {

std::string SystemText(int error) { return Utf8ToCp1250(std::strerror(error)); }

}  // namespace

TOutputFile::~TOutputFile() {
    if (m_handle != -1) ::close(static_cast<int>(m_handle));
}

bool TOutputFile::Open(const std::string& path, std::string& reason) {
    // O_NONBLOCK: a FIFO without a reader fails at once instead of waiting.
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
    if (fd < 0) {
        reason = "nelze otevřít pro zápis (" + SystemText(errno) + ")";
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        reason = "nelze otevřít pro zápis (je to adresář)";
        ::close(fd);
        return false;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    m_handle = fd;
    return true;
}

bool TOutputFile::Empty() const {
    struct stat info {};
    return ::fstat(static_cast<int>(m_handle), &info) == 0 && S_ISREG(info.st_mode) && info.st_size == 0;
}

bool TOutputFile::Append(std::string_view line, std::string& reason) {
    while (!line.empty()) {
        const ssize_t n = ::write(static_cast<int>(m_handle), line.data(), line.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            reason = SystemText(n < 0 ? errno : EIO);
            return false;
        }
        line.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}
