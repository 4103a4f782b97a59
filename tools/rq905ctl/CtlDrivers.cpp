// rq905ctl drivers check: whether the maker's Windows driver libraries
// named by RQ905_WINDRIVERS can serve through the driver host.
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>

#include "Bridge.h"
#include "CtlOutput.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

constexpr const char* kLibraries[] = {"TCOM318", "TPCI318", "TPCI1318", "TUSB1318", "TRQ1318"};
constexpr const char* kEntries[] = {"Version", "Init", "SetConfig", "GetConfig", "Send", "Done", "Error"};

std::string FindOnPath(const char* program) {
#if defined(_WIN32)
    return program;
#else
    const char* path = std::getenv("PATH");
    std::string rest = path != nullptr ? path : "";
    while (!rest.empty()) {
        const auto colon = rest.find(':');
        const std::string dir = rest.substr(0, colon);
        rest = colon == std::string::npos ? "" : rest.substr(colon + 1);
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + program;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return {};
#endif
}

}  // namespace

// 0 when wine and the directory are there and every library found in it
// loads with its seven entry points, at least one of them; 1 otherwise.
int RunDriversCheck(std::ostream& out) {
    // The texts are the program's Windows-1250; WriteLine makes them UTF-8.
    auto line = [&](const std::string& text) { WriteLine(out, text); };
    // Windows starts the host directly.
    const std::string wine = FindOnPath("wine");
#if !defined(_WIN32)
    line("wine: " + (wine.empty() ? std::string("nenalezen") : wine));
#endif
    const std::string dir = drv::bridge::DriverDirectory();
    const char* call = std::getenv(drv::bridge::kCallVariable);
    const bool cdeclCall = call != nullptr && std::strcmp(call, "cdecl") == 0;
    line(std::string("konvence volání: ") + (cdeclCall ? "cdecl" : "stdcall") + " (" +
         drv::bridge::kCallVariable + ")");
    if (dir.empty()) {
        line(std::string("adresář ovladačů Windows: není nastaven (") + drv::bridge::kDirVariable + ")");
        return 1;
    }
    line("adresář ovladačů Windows: " + dir);
    line("hostitel ovladačů: " + drv::bridge::HostPath());
    bool ok = !wine.empty();
    int usable = 0;
    for (const char* library : kLibraries) {
        const std::string name = std::string(library) + ".DLL";
        const std::string file = drv::bridge::FindFile(dir, name);
        if (file.empty()) {
            line(name + ": chybí");
            continue;
        }
        std::uint32_t missing = 0;
        const int loaded = wine.empty() ? -1 : drv::bridge::Probe(file, cdeclCall, missing);
        std::string text = name + ": ";
        if (loaded == static_cast<int>(drvhost::Loaded::Ok)) {
            text += "načte se, všech sedm vstupních bodů";
            ++usable;
        } else if (loaded == static_cast<int>(drvhost::Loaded::MissingEntry)) {
            text += "načte se, chybí vstupní body:";
            for (int i = 0; i < 7; ++i) {
                if (missing & (1U << i)) {
                    text += std::string(" ") + library + "_" + kEntries[i];
                }
            }
        } else if (loaded < 0) {
            text += "hostitele ovladačů nelze spustit";
        } else {
            text += "nelze načíst (není 32bitová knihovna Windows?)";
        }
        ok = ok && loaded == static_cast<int>(drvhost::Loaded::Ok);
        line(text);
    }
    return ok && usable > 0 ? 0 : 1;
}
