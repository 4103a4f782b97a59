// The text of a Windows profile (INI) file, in memory: keys are read and set
// the way GetPrivateProfileStringA / WritePrivateProfileStringA do for this
// program, so files of the original Windows program load and the files we
// write stay readable by it. No file is touched here; TProfileFile puts the
// text on disk.
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
//
// Names and values are Windows-1250 bytes, as everywhere in the program. A
// text in UTF-8 (IsUtf8Text: an editor on Linux wrote it) is read and set
// all the same: what is looked up and read is converted, what is set is
// written in UTF-8, and every other byte stays, a byte order mark too.
#pragma once

#include <string>
#include <string_view>
#include <utility>

class TProfileText {
  public:
    TProfileText() = default;
    explicit TProfileText(std::string content);

    // Value of the key, or def when the section or key is missing. A key
    // present with an empty value yields "".
    std::string ReadString(std::string_view section, std::string_view key, std::string_view def) const;

    // Sets the key: an existing key keeps its place and spelling, a new key
    // goes after the last non-blank line of its section, a new section to
    // the end; every other byte stays as it was. New lines use the text's
    // line ending (CRLF for an empty text, as Windows writes). False, and
    // the text unchanged, when Writable() says no.
    bool WriteString(std::string_view section, std::string_view key, std::string_view value);

    // Names must be non-empty and no text may contain a line break, a key
    // no '=', a section no ']': anything else would read back differently.
    static bool Writable(std::string_view section, std::string_view key, std::string_view value);

    const std::string& Content() const { return m_content; }

  private:
    std::string m_content;
    bool m_utf8 = false;  // fixed by the content it was made from
};
