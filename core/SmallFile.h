// Files read and written whole besides the settings file: the
// configuration files of rq905ctl's config save, apply and diff and of the
// program's "Servis" menu. Paths are as the system takes them (UTF-8 on
// POSIX, the ANSI code page on Windows); reasons are Windows-1250.
#pragma once

#include <cstddef>
#include <string>

// A regular file that can be opened for reading, checked without an open
// that could block (a FIFO, a device); otherwise reason says why not.
bool SettingsFileReadable(const std::string& path, std::string& reason);

// A regular file of modest size, read whole; a larger one is refused.
inline constexpr std::size_t kSmallFileMaxSize = 64 * 1024;
bool ReadSmallFile(const std::string& path, std::string& text, std::string& reason);

// Whether path may be written: its directory exists and it is either
// missing or a regular file (a symbolic link counts as not regular).
bool WritableTarget(const std::string& path, std::string& reason);

// Writes a temporary file beside path, flushes it and renames it over
// path, so that readers see the old file or the new one, never a part. An
// existing file keeps its permissions.
bool WriteFileAtomically(const std::string& path, const std::string& text, std::string& reason);
