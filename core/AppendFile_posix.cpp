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
    if (m_reader != -1) ::close(static_cast<int>(m_reader));
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
    if (S_ISREG(info.st_mode)) m_reader = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    return true;
}

std::string TOutputFile::FirstLine() const {
    if (m_reader == -1) return {};
    char buffer[4096];
    const ssize_t n = ::pread(static_cast<int>(m_reader), buffer, sizeof buffer, 0);
    if (n <= 0) return {};
    const std::string_view text(buffer, static_cast<std::size_t>(n));
    return std::string(text.substr(0, text.find('\n')));
}

bool TOutputFile::Empty() const {
    struct stat info {};
    return ::fstat(static_cast<int>(m_handle), &info) == 0 && S_ISREG(info.st_mode) && info.st_size == 0;
}

bool TOutputFile::Append(std::string_view line, std::string& reason) {
    const int fd = static_cast<int>(m_handle);
    struct stat info {};
    const bool regular = m_reader != -1 && ::fstat(fd, &info) == 0;
    std::string joined;
    char last = '\n';
    if (regular && info.st_size > 0 && ::pread(static_cast<int>(m_reader), &last, 1, info.st_size - 1) == 1 &&
        last != '\n') {
        joined = "\n";
        joined += line;
        line = joined;
    }
    off_t done = 0;
    while (!line.empty()) {
        const ssize_t n = ::write(fd, line.data(), line.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : EIO;
            reason = SystemText(error);
            // The part written is cut back off, unless another writer has
            // appended since.
            struct stat now {};
            if (regular && done > 0 && ::fstat(fd, &now) == 0 && now.st_size == info.st_size + done) {
                [[maybe_unused]] const int cut = ::ftruncate(fd, info.st_size);
            }
            return false;
        }
        done += n;
        line.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}
