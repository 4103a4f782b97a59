// File operations of the settings file service, kept apart from its text
// handling because they are platform business (POSIX here).
#pragma once

#include <cstddef>
#include <functional>
#include <string>

enum class TFileRead { Ok, Missing, Unreadable };

// Whole content of a regular file of at most maxSize bytes. Anything else
// (a FIFO, a device, a directory, a link to nothing) is unreadable and never
// opened; why then says so for a person (Windows-1250).
TFileRead ReadWholeFile(const std::string& path, std::size_t maxSize, std::string& content,
                        std::string* why = nullptr);

// One read-modify-write of the file, exclusive among all processes that
// update it this way: reads the file (a missing one as empty), lets edit
// change the content, and replaces the file with the result atomically (a
// temporary file beside it, flushed, renamed over it; the old file's
// permissions kept). Through a symbolic link the link's final target is
// replaced and the link stays. A file that edit leaves as it was is not
// written again (the result is true). Nothing changes, and the result is
// false, when the file exists but is no regular file, cannot be read, is
// read-only, or is a link whose target is missing.
bool UpdateFileContent(const std::string& path, std::size_t maxSize,
                       const std::function<void(std::string& content)>& edit);

// Whether UpdateFileContent could replace the file now, found without
// writing it: the file (or the end of its links) is a regular file that
// may be written, or is missing, and its folder takes new files.
bool CanUpdateFile(const std::string& path);

// The path made absolute against the current directory.
std::string AbsolutePath(const std::string& path);
