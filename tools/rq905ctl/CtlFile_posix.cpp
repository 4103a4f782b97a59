// POSIX: a standard stream the caller closed is held by a descriptor of
// its own.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "CtlFile.h"

void ReserveStandardStreams() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            // Read-only: a write to it fails, and the failure is reported.
            const int held = ::open("/dev/null", O_RDONLY | O_NOCTTY);
            if (held >= 0 && held != fd) ::close(held);
        }
    }
}
