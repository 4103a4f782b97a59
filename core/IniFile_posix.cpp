// POSIX file operations of the settings file service; a Windows build would
// use CreateFileA / LockFileEx / FlushFileBuffers / MoveFileExA in a file of
// its own.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

#include "core/IniFileIo.h"

namespace {

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t written = write(fd, data.data(), data.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

std::string DirectoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// The file an update replaces: the path itself, or the end of its chain of
// symbolic links, so that a link stays a link. A link whose target is
// missing has no file to replace: false.
bool FinalTarget(const std::string& path, std::string& target) {
    target = path;
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) return errno == ENOENT;
    if (!S_ISLNK(info.st_mode)) return true;
    char* resolved = realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return false;
    target = resolved;
    std::free(resolved);
    return true;
}

// Windows' profile service leaves a read-only file alone, even for an
// administrator. A file without any write permission is the counterpart
// here and binds root as well; otherwise the effective user's permission
// decides, as Windows decides by the file's access rights.
bool Replaceable(const std::string& target, const struct stat& info) {
    if (!S_ISREG(info.st_mode)) return false;
    if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return false;
    return faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) == 0;
}

// An exclusive flock on "<file>.lock", held by every writer for a whole
// read-modify-write. The holder removes the lock file before releasing it;
// whoever then gets the lock on the removed file sees that the path names
// another file now, and starts over. The wait is bounded so that a stuck
// writer cannot keep the program from closing.
class TUpdateLock {
  public:
    explicit TUpdateLock(std::string path) : m_path(std::move(path)) {
        using Clock = std::chrono::steady_clock;
        const Clock::time_point deadline = Clock::now() + std::chrono::seconds(5);
        while (m_fd < 0 && Clock::now() < deadline) {
            const int fd = open(m_path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
            if (fd < 0) return;
            if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
                const int error = errno;
                close(fd);
                if (error != EWOULDBLOCK && error != EINTR) return;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            struct stat held {};
            struct stat named {};
            if (fstat(fd, &held) == 0 && stat(m_path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
                held.st_ino == named.st_ino) {
                m_fd = fd;
            } else {
                close(fd);
            }
        }
    }
    ~TUpdateLock() {
        if (m_fd < 0) return;
        unlink(m_path.c_str());
        close(m_fd);
    }
    TUpdateLock(const TUpdateLock&) = delete;
    TUpdateLock& operator=(const TUpdateLock&) = delete;

    bool Held() const { return m_fd >= 0; }

  private:
    std::string m_path;
    int m_fd = -1;
};

// Makes the rename itself durable; some file systems refuse, which only
// weakens durability, so failures are ignored.
void SyncDirectory(const std::string& directory) {
    const int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    (void)fsync(fd);
    close(fd);
}

// Writes a temporary file beside the target, flushes it and renames it over
// the target; no temporary file stays behind on failure.
bool ReplaceFileContent(const std::string& target, std::string_view content, const struct stat* old) {
    static std::atomic<unsigned> counter{0};
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = target + ".tmp" + std::to_string(getpid()) + "." + std::to_string(counter++);
        fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;

    if (old != nullptr) (void)fchmod(fd, old->st_mode & 07777);
    bool ok = WriteAll(fd, content) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    ok = ok && rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        unlink(temp.c_str());
        return false;
    }
    SyncDirectory(DirectoryOf(target));
    return true;
}

}  // namespace

namespace {

// Why a file that is there cannot be read, for a person (Windows-1250).
std::string KindText(mode_t mode) {
    if (S_ISFIFO(mode)) return "je to roura (FIFO), ne obyčejný soubor";
    if (S_ISDIR(mode)) return "je to složka, ne soubor";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "je to zařízení, ne obyčejný soubor";
    return "není to obyčejný soubor";
}

std::string ErrorText(int error) {
    if (error == EACCES || error == EPERM) return "chybí oprávnění ke čtení";
    char buffer[128];
    return strerror_r(error, buffer, sizeof buffer);
}

TFileRead Unreadable(std::string* why, std::string text) {
    if (why != nullptr) *why = std::move(text);
    return TFileRead::Unreadable;
}

}  // namespace

TFileRead ReadWholeFile(const std::string& path, std::size_t maxSize, std::string& content,
                        std::string* why) {
    content.clear();
    // Opening a FIFO blocks until a writer comes, and opening a device may
    // act on it: only a regular file is opened, without blocking in case it
    // is swapped for something else meanwhile, and checked again once open.
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        const int error = errno;
        // A link to nothing is there, and a person should hear of it.
        if (error == ENOENT && lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode))
            return Unreadable(why, "odkaz vede na neexistující soubor");
        return error == ENOENT ? TFileRead::Missing : Unreadable(why, ErrorText(error));
    }
    if (!S_ISREG(info.st_mode)) return Unreadable(why, KindText(info.st_mode));
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? TFileRead::Missing : Unreadable(why, ErrorText(errno));
    const auto tooLarge = [&] {
        return Unreadable(why, "větší než " + std::to_string(maxSize >> 20) + " MiB");
    };
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0) {
        close(fd);
        return Unreadable(why, KindText(info.st_mode));
    }
    if (static_cast<unsigned long long>(info.st_size) > maxSize) {
        close(fd);
        return tooLarge();
    }
    content.reserve(static_cast<std::size_t>(info.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        // The file may grow while it is read: the limit holds for what is read.
        if (got < 0 || content.size() + static_cast<std::size_t>(got) > maxSize) {
            const int error = errno;
            close(fd);
            content.clear();
            return got < 0 ? Unreadable(why, ErrorText(error)) : tooLarge();
        }
        if (got == 0) break;
        content.append(buffer, static_cast<std::size_t>(got));
    }
    close(fd);
    return TFileRead::Ok;
}

bool UpdateFileContent(const std::string& path, std::size_t maxSize,
                       const std::function<void(std::string& content)>& edit) {
    std::string target;
    if (!FinalTarget(path, target)) return false;
    const TUpdateLock lock(target + ".lock");
    if (!lock.Held()) return false;

    struct stat old {};
    const bool exists = stat(target.c_str(), &old) == 0;
    if (!exists && errno != ENOENT) return false;
    if (exists && !Replaceable(target, old)) return false;
    std::string content;
    if (ReadWholeFile(target, maxSize, content) == TFileRead::Unreadable) return false;
    const std::string before = content;
    edit(content);
    // Unchanged, the file stays as it is: no write, flush and rename at
    // each close of a program whose settings did not change.
    if (exists && content == before) return true;
    return ReplaceFileContent(target, content, exists ? &old : nullptr);
}

bool CanUpdateFile(const std::string& path) {
    std::string target;
    if (!FinalTarget(path, target)) return false;
    struct stat info {};
    if (stat(target.c_str(), &info) == 0) {
        if (!Replaceable(target, info)) return false;
    } else if (errno != ENOENT) {
        return false;
    }
    // The lock and the new file go beside the target; a save makes the
    // folders that are missing, in the nearest one that exists.
    std::string folder = DirectoryOf(target);
    while (stat(folder.c_str(), &info) != 0) {
        if (errno != ENOENT || folder == "/" || folder == ".") return false;
        folder = DirectoryOf(folder);
    }
    return S_ISDIR(info.st_mode) && faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

std::string AbsolutePath(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    std::string directory(PATH_MAX, '\0');
    if (getcwd(directory.data(), directory.size()) == nullptr) return path;
    directory.resize(directory.find('\0'));
    if (directory.back() != '/') directory += '/';
    return directory + path;
}
