// Arbitrary bytes as a settings file: loading, reading and writing must not
// crash, and what is written must read back, from memory and from disk.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

#include "core/Cp1250.h"
#include "core/IniFile.h"

namespace {

std::string g_dir;
std::string g_file;

void RemoveFiles() {
    std::remove(g_file.c_str());
    rmdir(g_dir.c_str());
}

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

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr ? tmp : "/tmp") + "/rq905fuzzXXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) abort();
    g_dir = pattern;
    g_file = g_dir + "/W_rq905.ini";
    atexit(RemoveFiles);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    if (Utf8ToCp1250(Cp1250ToUtf8(bytes)) != bytes) Abort("Windows-1250 round trip");
    (void)Utf8ToCp1250(bytes);
    {
        std::ofstream out(g_file, std::ios::binary | std::ios::trunc);
        out << bytes;
    }

    // Names the program uses, as Windows-1250 bytes whatever the compiler's
    // character set, and one section, key and value taken from the input.
    const std::string section = "P\xF8ipojen\xED";
    const std::string key = "Rozhran\xED";
    const std::size_t cut = bytes.find('\n');
    const std::string own = bytes.substr(0, cut == std::string::npos ? 16 : std::min<std::size_t>(cut, 16));
    const std::string ownValue = own.size() > 4 ? own.substr(4) : own;

    TProfileFile file(g_file);
    if (!file.Load()) Abort("load of a regular file");
    (void)file.ReadString(section, key, "jkl");
    (void)file.ReadString(own, own, "");
    (void)file.ReadString("RQ-1318", "IP adresa", "192.168.0.99");

    const bool wroteOwn = file.WriteString(own, own, ownValue);
    if (wroteOwn && file.ReadString(own, own, "\x01") != Trimmed(ownValue)) Abort("own key reads back");
    if (!file.WriteString(section, key, "RQ-1318")) Abort("write of a plain key");
    if (file.ReadString(section, key, "") != "RQ-1318") Abort("key reads back");

    TProfileFile reloaded(g_file);
    if (!reloaded.Load()) Abort("reload");
    if (reloaded.ReadString(section, key, "") != "RQ-1318") Abort("key reads back from disk");
    return 0;
}
