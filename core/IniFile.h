// The settings file service: a profile (INI) file on disk, its keys read and
// set by the rules of TProfileText.
//
// A file larger than 16 MiB, or one that is not a regular file, counts as
// unreadable and is never written. A FIFO or a device is never opened.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "core/ProfileText.h"

struct TProfileEntry {
    std::string_view section;
    std::string_view key;
    std::string value;
};

class TProfileFile {
  public:
    static constexpr std::size_t kMaxFileSize = std::size_t{16} << 20;

    // A relative path is taken from the current directory, so that errors
    // always name the full path.
    explicit TProfileFile(std::string path);

    // Reads the file; false when it is missing or unreadable, and then every
    // key reads as missing. A file that is there but cannot be read is
    // named on standard error, with the reason.
    bool Load();

    // Value of the key, or def when the section or key is missing. A key
    // present with an empty value yields "".
    std::string ReadString(std::string_view section, std::string_view key, std::string_view def) const {
        return m_text.ReadString(section, key, def);
    }

    // Sets the keys, in order, in one update of the file: under a lock that
    // every writer of the file takes, the file is read afresh, the keys set
    // in memory, and a temporary file in the same directory written, flushed
    // and renamed over the old one. Two programs saving at once therefore
    // never lose each other's keys, and a crash or a full disk never leaves
    // a half-written file. A key that TProfileText::Writable() refuses stops
    // the list there, with the keys before it written. The file is left
    // alone when it exists but cannot be read, is read-only, or is a
    // symbolic link whose target is missing; through a link the target is
    // written and the link kept. On failure: false, and LastError() is
    // "Unable to write to <path>".
    bool WriteStrings(std::span<const TProfileEntry> entries);
    // What a missing (or empty) file starts from when keys are set in it,
    // rather than nothing.
    void SetStartContent(std::string content) { m_startContent = std::move(content); }
    bool WriteString(std::string_view section, std::string_view key, std::string_view value);

    const std::string& Path() const { return m_path; }
    const std::string& LastError() const { return m_lastError; }

  private:
    std::string m_path;
    TProfileText m_text;
    std::string m_lastError;
    std::string m_startContent;
};

// Directory of the running executable with a trailing '/', or "" when it
// cannot be found out (the file then sits in the current directory).
std::string ExecutableDir();
