// POSIX file operations of the settings file service; a Windows build would
// use CreateFileA / FlushFileBuffers / MoveFileExA in a file of its own.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>

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

// A settings file reached through a symbolic link stays a link; the file it
// points to is replaced.
std::string FinalTarget(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    char* resolved = realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return path;
    std::string target(resolved);
    std::free(resolved);
    return target;
}

// Makes the rename itself durable; some file systems refuse, which only
// weakens durability, so failures are ignored.
void SyncDirectory(const std::string& directory) {
    const int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    (void)fsync(fd);
    close(fd);
}

}  // namespace

TFileRead ReadWholeFile(const std::string& path, std::size_t maxSize, std::string& content) {
    content.clear();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? TFileRead::Missing : TFileRead::Unreadable;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0 ||
        static_cast<unsigned long long>(info.st_size) > maxSize) {
        close(fd);
        return TFileRead::Unreadable;
    }
    content.reserve(static_cast<std::size_t>(info.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        // The file may grow while it is read: the limit holds for what is read.
        if (got < 0 || content.size() + static_cast<std::size_t>(got) > maxSize) {
            close(fd);
            content.clear();
            return TFileRead::Unreadable;
        }
        if (got == 0) break;
        content.append(buffer, static_cast<std::size_t>(got));
    }
    close(fd);
    return TFileRead::Ok;
}

bool ReplaceFileContent(const std::string& path, std::string_view content) {
    static std::atomic<unsigned> counter{0};
    const std::string target = FinalTarget(path);
    struct stat old {};
    const bool exists = stat(target.c_str(), &old) == 0;

    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = target + ".tmp" + std::to_string(getpid()) + "." + std::to_string(counter++);
        fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;

    if (exists) (void)fchmod(fd, old.st_mode & 07777);
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

std::string AbsolutePath(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    std::string directory(PATH_MAX, '\0');
    if (getcwd(directory.data(), directory.size()) == nullptr) return path;
    directory.resize(directory.find('\0'));
    if (directory.back() != '/') directory += '/';
    return directory + path;
}
