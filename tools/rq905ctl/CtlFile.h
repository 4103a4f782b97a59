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

// A standard stream that the caller closed is held by a descriptor that
// cannot be written, so that no file or socket the tool opens later takes
// its number: output meant for the terminal must never reach a module.
void ReserveStandardStreams();
