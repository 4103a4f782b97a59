// The trace file on Linux: made and unlinked at once, so that no run,
// however it ends, leaves one behind; the drivers open it anew through
// /proc/self/fd, which reaches an unlinked file.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "TraceFile.h"

TTraceFile::TTraceFile() {
    const char* dir = std::getenv("TMPDIR");
    std::string pattern = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/rq905-trace-XXXXXX";
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) return;
    m_handle = fd;
    std::string name = "/proc/self/fd/" + std::to_string(fd);
    const int probe = ::open(name.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (probe >= 0) {
        ::close(probe);
        ::unlink(pattern.c_str());
        m_name = name;
    } else {
        // Without /proc the file keeps its name until the tool ends.
        m_name = pattern;
    }
}

TTraceFile::~TTraceFile() {
    if (m_handle < 0) return;
    ::close(static_cast<int>(m_handle));
    if (m_name.rfind("/proc/", 0) != 0) ::unlink(m_name.c_str());
}

void TTraceFile::ReadNew(std::string& text) {
    if (m_handle < 0) return;
    char buffer[8192];
    while (true) {
        const ssize_t n =
            ::pread(static_cast<int>(m_handle), buffer, sizeof buffer, static_cast<off_t>(m_offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        text.append(buffer, static_cast<std::size_t>(n));
        m_offset += static_cast<uint64_t>(n);
    }
}

void TTraceFile::Empty() {
    if (m_handle < 0) return;
    if (::ftruncate(static_cast<int>(m_handle), 0) == 0) m_offset = 0;
}
