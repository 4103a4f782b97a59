// Files that rq905ctl reads and writes besides the settings file: the
// configuration files of config save, apply and diff. Paths are as given
// on the command line; reasons are Windows-1250.
#pragma once

#include <string>

// A regular file of modest size, read whole.
bool ReadSmallFile(const std::string& path, std::string& text, std::string& reason);

// Whether path may be written: its directory exists and it is either
// missing or a regular file (a symbolic link counts as not regular).
bool WritableTarget(const std::string& path, std::string& reason);

// Writes a temporary file beside path, flushes it and renames it over
// path, so that readers see the old file or the new one, never a part. An
// existing file keeps its permissions.
bool WriteFileAtomically(const std::string& path, const std::string& text, std::string& reason);
