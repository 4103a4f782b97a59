// File operations of the settings file service, kept apart from its text
// handling because they are platform business (POSIX here).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

enum class TFileRead { Ok, Missing, Unreadable };

// Whole content of a regular file of at most maxSize bytes.
TFileRead ReadWholeFile(const std::string& path, std::size_t maxSize, std::string& content);

// Replaces the file's content atomically: a temporary file beside it is
// written, flushed to disk and renamed over it. The old file keeps its
// permissions. No temporary file stays behind on failure.
bool ReplaceFileContent(const std::string& path, std::string_view content);

// The path made absolute against the current directory.
std::string AbsolutePath(const std::string& path);
