// The tool's texts are UTF-8. A Windows console shows bytes in its own code
// page (852 for Czech), where UTF-8 is mojibake: there, standard output and
// standard error go through the console's wide-character API. Pipes and
// files, and every stream on POSIX, get the UTF-8 bytes as they are.
#pragma once

#ifdef _WIN32
#include <string_view>

void UseConsoleText();
// Standard error from any thread (the console event handler's own).
void WriteStandardError(std::string_view utf8);
#else
inline void UseConsoleText() {}
#endif
