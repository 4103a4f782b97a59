// Texts inside the program are Windows-1250 bytes, as the settings file, the
// driver libraries and the original program use; the user interface works in
// UTF-8. This is the one place that converts between the two.
#pragma once

#include <string>
#include <string_view>

// Every byte converts. The five bytes that Windows-1250 leaves undefined
// (0x81, 0x83, 0x88, 0x90, 0x98) become the C1 controls of the same number,
// as Windows itself converts them, so any byte string survives a round trip.
std::string Cp1250ToUtf8(std::string_view text);

// Characters outside Windows-1250, and every malformed UTF-8 sequence (one
// '?' per offending byte), become '?'.
std::string Utf8ToCp1250(std::string_view text);

inline constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// Whether bytes of a file are UTF-8 rather than Windows-1250: they start
// with the byte order mark, or they are well-formed UTF-8 holding at least
// one character of more than one byte. Czech text in Windows-1250 almost
// never is; plain ASCII counts as Windows-1250.
bool IsUtf8Text(std::string_view text);

// Lower case of a Windows-1250 letter, Czech and other Central European
// letters included, as Windows maps them; any other byte is returned as is.
char Cp1250ToLower(char c);

// Equality without regard to letter case, by Cp1250ToLower.
bool Cp1250EqualNoCase(std::string_view a, std::string_view b);

// The module's identification may hold any byte: control characters, and
// the bytes that Windows-1250 leaves undefined (they become C1 controls in
// Unicode, which terminals obey), show as a middle dot, so nothing is
// hidden, nothing cuts the text short and nothing drives a terminal.
std::string PrintableText(std::string_view text);
