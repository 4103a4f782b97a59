// Windows file operations of the settings file service: the same
// read-modify-write under a lock, and the same replacement through a
// flushed temporary file, as the POSIX file, on the Win32 file API. Paths
// are in the ANSI code page, as GetPrivateProfileStringA takes them.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <string_view>
#include <thread>
#include <utility>

#include "core/IniFileIo.h"
#include "link/WideText_win.h"

namespace {

std::string Narrow(const std::wstring& text) {
    const int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return {};
    std::string narrow(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, narrow.data(), size, nullptr, nullptr);
    narrow.resize(static_cast<std::size_t>(size - 1));
    return narrow;
}

class THandle {
  public:
    explicit THandle(HANDLE handle) : m_handle(handle) {}
    ~THandle() {
        if (Valid()) CloseHandle(m_handle);
    }
    THandle(const THandle&) = delete;
    THandle& operator=(const THandle&) = delete;
    bool Valid() const { return m_handle != INVALID_HANDLE_VALUE && m_handle != nullptr; }
    HANDLE Get() const { return m_handle; }
    // Closes now; false when the close failed.
    bool Close() {
        const bool ok = !Valid() || CloseHandle(m_handle) != 0;
        m_handle = INVALID_HANDLE_VALUE;
        return ok;
    }

  private:
    HANDLE m_handle;
};

bool IsMissing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

TFileRead ReadWide(const std::wstring& path, std::size_t maxSize, std::string& content) {
    content.clear();
    // Only a file on disk is opened: a directory, a device ("COM1", "NUL")
    // or a pipe is refused before any open can act on it.
    WIN32_FILE_ATTRIBUTE_DATA info{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &info)) {
        return IsMissing(GetLastError()) ? TFileRead::Missing : TFileRead::Unreadable;
    }
    if ((info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) {
        return TFileRead::Unreadable;
    }
    THandle file(CreateFileW(path.c_str(), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) return IsMissing(GetLastError()) ? TFileRead::Missing : TFileRead::Unreadable;
    LARGE_INTEGER size{};
    if (GetFileType(file.Get()) != FILE_TYPE_DISK || !GetFileSizeEx(file.Get(), &size) || size.QuadPart < 0 ||
        static_cast<unsigned long long>(size.QuadPart) > maxSize) {
        return TFileRead::Unreadable;
    }
    content.reserve(static_cast<std::size_t>(size.QuadPart));
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        // The file may grow while it is read: the limit holds for what is read.
        if (!ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr) || content.size() + got > maxSize) {
            content.clear();
            return TFileRead::Unreadable;
        }
        if (got == 0) break;
        content.append(buffer, got);
    }
    return TFileRead::Ok;
}

// The file an update replaces: the path itself, or the final target of a
// symbolic link, so that a link stays a link. A link whose target is
// missing has no file to replace: false.
bool FinalTarget(const std::wstring& path, std::wstring& target) {
    target = path;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return IsMissing(GetLastError());
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return true;
    THandle file(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file.Valid()) return false;
    std::wstring resolved(MAX_PATH, L'\0');
    DWORD length =
        GetFinalPathNameByHandleW(file.Get(), resolved.data(), static_cast<DWORD>(resolved.size()), 0);
    if (length >= resolved.size()) {
        resolved.resize(length + 1);
        length =
            GetFinalPathNameByHandleW(file.Get(), resolved.data(), static_cast<DWORD>(resolved.size()), 0);
    }
    if (length == 0 || length >= resolved.size()) return false;
    resolved.resize(length);
    target = resolved;
    return true;
}

// "<file>.lock", opened without sharing and deleted on close, held for a
// whole read-modify-write by every writer. The wait is bounded so that a
// stuck writer cannot keep the program from closing.
class TUpdateLock {
  public:
    explicit TUpdateLock(const std::wstring& path) {
        using Clock = std::chrono::steady_clock;
        const Clock::time_point deadline = Clock::now() + std::chrono::seconds(5);
        while (Clock::now() < deadline) {
            m_handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
            if (m_handle != INVALID_HANDLE_VALUE) return;
            // Another holder, or its lock file still being deleted.
            const DWORD error = GetLastError();
            if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    ~TUpdateLock() {
        if (Held()) CloseHandle(m_handle);
    }
    TUpdateLock(const TUpdateLock&) = delete;
    TUpdateLock& operator=(const TUpdateLock&) = delete;

    bool Held() const { return m_handle != INVALID_HANDLE_VALUE; }

  private:
    HANDLE m_handle = INVALID_HANDLE_VALUE;
};

// Writes a temporary file beside the target, flushes it and puts it in the
// target's place; ReplaceFileW keeps the old file's attributes and access
// rights. No temporary file stays behind on failure.
bool ReplaceFileContent(const std::wstring& target, std::string_view content, bool exists) {
    static std::atomic<unsigned> counter{0};
    std::wstring temp;
    HANDLE raw = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && raw == INVALID_HANDLE_VALUE; ++attempt) {
        temp = target + L".tmp" + std::to_wstring(GetCurrentProcessId()) + L"." + std::to_wstring(counter++);
        raw =
            CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (raw == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) return false;
    }
    THandle file(raw);
    if (!file.Valid()) return false;
    bool ok = true;
    while (ok && !content.empty()) {
        DWORD written = 0;
        ok = WriteFile(file.Get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr) !=
                 0 &&
             written > 0;
        content.remove_prefix(written);
    }
    ok = ok && FlushFileBuffers(file.Get()) != 0;
    ok = file.Close() && ok;
    if (ok && exists) {
        ok = ReplaceFileW(target.c_str(), temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                          nullptr) != 0 ||
             MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) !=
                 0;
    } else if (ok) {
        ok = MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
    }
    if (!ok) DeleteFileW(temp.c_str());
    return ok;
}

}  // namespace

TFileRead ReadWholeFile(const std::string& path, std::size_t maxSize, std::string& content,
                        std::string* why) {
    const TFileRead read = ReadWide(Widen(path), maxSize, content);
    if (read == TFileRead::Unreadable && why != nullptr) {
        *why = "soubor nelze přečíst";
    }
    return read;
}

bool UpdateFileContent(const std::string& path, std::size_t maxSize,
                       const std::function<void(std::string& content)>& edit) {
    std::wstring target;
    if (!FinalTarget(Widen(path), target)) return false;
    const TUpdateLock lock(target + L".lock");
    if (!lock.Held()) return false;

    const DWORD attributes = GetFileAttributesW(target.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (!exists && !IsMissing(GetLastError())) return false;
    // The profile service leaves a read-only file alone.
    if (exists &&
        (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) {
        return false;
    }
    std::string content;
    if (ReadWide(target, maxSize, content) == TFileRead::Unreadable) return false;
    const std::string before = content;
    edit(content);
    // Unchanged, the file stays as it is: no write, flush and rename at
    // each close of a program whose settings did not change.
    if (exists && content == before) return true;
    return ReplaceFileContent(target, content, exists);
}

bool CanUpdateFile(const std::string& path) {
    std::wstring target;
    if (!FinalTarget(Widen(path), target)) return false;
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return IsMissing(GetLastError());
    // The profile service leaves a read-only file alone. A folder's access
    // rights are not probed: that would take writing into it.
    return (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

std::string AbsolutePath(const std::string& path) {
    const std::wstring wide = Widen(path);
    if (wide.empty()) return path;
    const DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (size == 0) return path;
    std::wstring full(size, L'\0');
    const DWORD length = GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size) return path;
    full.resize(length);
    return Narrow(full);
}
