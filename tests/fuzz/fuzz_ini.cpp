// Arbitrary bytes as the text of a settings file: reading and setting keys
// must not crash, and what is set must read back, also once the text is
// parsed again. Only the text in memory is fuzzed; the unit tests cover the
// file on disk.
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "core/Cp1250.h"
#include "core/ProfileText.h"

namespace {

void Abort(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    abort();
}

std::string Trimmed(const std::string& text) {
    const char* blanks = " \t\r\v\f";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    if (Utf8ToCp1250(Cp1250ToUtf8(bytes)) != bytes) Abort("Windows-1250 round trip");
    (void)Utf8ToCp1250(bytes);

    // Names the program uses, as Windows-1250 bytes whatever the compiler's
    // character set, and one section, key and value taken from the input.
    const std::string section = "P\xF8ipojen\xED";
    const std::string key = "Rozhran\xED";
    const std::size_t cut = bytes.find('\n');
    const std::string own = bytes.substr(0, cut == std::string::npos ? 16 : std::min<std::size_t>(cut, 16));
    const std::string ownValue = own.size() > 4 ? own.substr(4) : own;

    TProfileText text(bytes);
    (void)text.ReadString(section, key, "jkl");
    (void)text.ReadString(own, own, "");
    (void)text.ReadString("RQ-1318", "IP adresa", "192.168.0.99");

    const bool wroteOwn = text.WriteString(own, own, ownValue);
    if (wroteOwn != TProfileText::Writable(own, own, ownValue)) Abort("write refused only when unwritable");
    if (wroteOwn && text.ReadString(own, own, "\x01") != Trimmed(ownValue)) Abort("own key reads back");
    if (!wroteOwn && text.Content() != bytes) Abort("refused write leaves the text");
    if (!text.WriteString(section, key, "RQ-1318")) Abort("write of a plain key");
    if (text.ReadString(section, key, "") != "RQ-1318") Abort("key reads back");

    const TProfileText reparsed(text.Content());
    if (reparsed.ReadString(section, key, "") != "RQ-1318") Abort("key reads back after parsing again");
    if (wroteOwn && reparsed.ReadString(own, own, "\x01") != text.ReadString(own, own, "\x01"))
        Abort("own key reads the same after parsing again");
    return 0;
}
