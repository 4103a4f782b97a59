// The settings file service: reads and writes keys of a Windows profile
// (INI) file the way GetPrivateProfileStringA / WritePrivateProfileStringA do
// for this program, so files of the original Windows program load and the
// files we write stay readable by it.
//
// Decisions for input Windows leaves vague:
// - Lines end at LF; a CR before it belongs to the line ending. A NUL or any
//   other byte is ordinary text; lines of any length are fine.
// - "[name]" starts a section (text after ']' ignored). A line whose first
//   non-blank character is ';' is a comment. "key=value" splits at the first
//   '='. Any other line, and keys before the first section, are ignored for
//   reading and kept as they are when writing.
// - Names and values lose surrounding blanks (space, tab, CR, VT, FF); names
//   match without regard to letter case (Windows-1250 letters included).
// - Duplicates: the first section of a name is the section, for reading and
//   writing; later ones are kept but never consulted. Within it the first
//   key of a name wins.
// - A file larger than 16 MiB, or one that is not a regular file, counts as
//   unreadable.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

class TProfileFile {
  public:
    static constexpr std::size_t kMaxFileSize = std::size_t{16} << 20;

    // A relative path is taken from the current directory, so that errors
    // always name the full path.
    explicit TProfileFile(std::string path);

    // Reads the file; false when it is missing or unreadable, and then every
    // key reads as missing.
    bool Load();

    // Value of the key, or def when the section or key is missing. A key
    // present with an empty value yields "".
    std::string ReadString(std::string_view section, std::string_view key, std::string_view def) const;

    // Sets the key and writes the file at once, atomically (temporary file in
    // the same directory, flushed, renamed over the old one), so a crash or a
    // full disk never leaves a half-written file. The file is read afresh
    // first; an existing key keeps its place and spelling, a new key goes
    // after the last non-blank line of its section, a new section to the end
    // of the file; every other byte stays as it was. New lines use the file's
    // line ending (CRLF for a new file, as Windows writes). A file that
    // exists but cannot be read is never overwritten. Names must be non-empty
    // and no text may contain a line break, a key no '=', a section no ']'.
    // On failure: false, and LastError() is "Unable to write to <path>".
    bool WriteString(std::string_view section, std::string_view key, std::string_view value);

    const std::string& Path() const { return m_path; }
    const std::string& LastError() const { return m_lastError; }

  private:
    std::string m_path;
    std::string m_content;
    std::string m_lastError;
};

// Directory of the running executable with a trailing '/', or "" when it
// cannot be found out (the file then sits in the current directory).
std::string ExecutableDir();
