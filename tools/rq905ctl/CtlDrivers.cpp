// rq905ctl drivers check: whether the maker's Windows driver libraries
// named by RQ905_WINDRIVERS can serve through the driver host.
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "Bridge.h"
#include "CtlOutput.h"
#include "core/Cp1250.h"

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

// Why the host could not load a library, from the system's error code.
std::string NotLoadableText(std::uint32_t error) {
    switch (error) {
        case 193:  // ERROR_BAD_EXE_FORMAT
        case 11:   // ERROR_BAD_FORMAT
            return "není 32bitová knihovna Windows";
        case 216:  // ERROR_EXE_MACHINE_TYPE_MISMATCH
            return "knihovna pro jiný procesor (64bitová?)";
        case 126:  // ERROR_MOD_NOT_FOUND, for a library it depends on
            return "chybí knihovna, na které závisí";
        case 127:  // ERROR_PROC_NOT_FOUND, in a library it depends on
            return "knihovně, na které závisí, chybí funkce";
        case 5:  // ERROR_ACCESS_DENIED
            return "přístup odepřen";
        case 1114:  // ERROR_DLL_INIT_FAILED
            return "inicializace knihovny selhala";
        default:
            return "knihovnu nelze načíst";
    }
}

constexpr const char* kHelp =
    "Použití: rq905ctl drivers check [--json]\n"
    "Ověří, zda ovladače výrobce pro Windows (adresář v proměnné RQ905_WINDRIVERS\n"
    "nebo v souboru zařízení) poslouží přes hostitele ovladačů: wine, adresář,\n"
    "každou knihovnu načtenou v hostiteli a konvenci volání (RQ905_WINDRIVERS_CALL).\n"
    "Návratový kód: 0 vše v pořádku, 1 něco chybí, 2 chybné volby.\n";

}  // namespace

// 0 when wine and the directory are there and every library found in it
// loads with its seven entry points, at least one of them; 1 otherwise.
int RunDriversCheck(const std::vector<std::string>& options, std::ostream& out, std::ostream& err) {
    bool json = false;
    for (const std::string& option : options) {
        if (option == "--help" || option == "-h") {
            out << Cp1250ToUtf8(kHelp);
            out.flush();
            return 0;
        }
        if (option != "--json") {
            WriteLine(err, "rq905ctl: drivers check: neznámá volba " + Utf8ToCp1250(option));
            WriteLine(err, "Nápověda: rq905ctl drivers check --help");
            return 2;
        }
        json = true;
    }
    // The texts are the program's Windows-1250; WriteLine makes them UTF-8.
    auto line = [&](const std::string& text) {
        if (!json) WriteLine(out, text);
    };
    TJsonObject report;
    // Windows starts the host directly.
    const std::string wine = FindOnPath("wine");
#if !defined(_WIN32)
    line("wine: " + (wine.empty() ? std::string("nenalezen") : wine));
    if (wine.empty()) {
        report.Null("wine");
    } else {
        report.Text("wine", Utf8ToCp1250(wine));
    }
#endif
    const std::string dir = drv::bridge::DriverDirectory();
    const char* call = std::getenv(drv::bridge::kCallVariable);
    const bool cdeclCall = call != nullptr && std::strcmp(call, "cdecl") == 0;
    line(std::string("konvence volání: ") + (cdeclCall ? "cdecl" : "stdcall") + " (" +
         drv::bridge::kCallVariable + ")");
    report.Text("call", cdeclCall ? "cdecl" : "stdcall");
    const auto finish = [&](int exit) {
        if (json) WriteLine(out, report.Bool("ok", exit == 0).Str());
        return exit;
    };
    if (dir.empty()) {
        line(std::string("adresář ovladačů Windows: není nastaven (") + drv::bridge::kDirVariable + ")");
        report.Null("directory");
        return finish(1);
    }
    const std::string host = drv::bridge::HostPath();
    line("adresář ovladačů Windows: " + Utf8ToCp1250(dir));
    line("hostitel ovladačů: " + Utf8ToCp1250(host));
    report.Text("directory", Utf8ToCp1250(dir)).Text("host", Utf8ToCp1250(host));
#if defined(_WIN32)
    const bool hostThere = true;
#else
    const bool hostThere = ::access(host.c_str(), F_OK) == 0;
#endif
    bool ok = !wine.empty();
    int usable = 0;
    std::vector<std::string> libraries;
    for (const char* library : kLibraries) {
        const std::string name = std::string(library) + ".DLL";
        const std::string file = drv::bridge::FindFile(dir, name);
        TJsonObject entry;
        entry.Text("name", name);
        if (file.empty()) {
            line(name + ": chybí");
            libraries.push_back(entry.Text("status", "missing").Str());
            continue;
        }
        entry.Text("file", Utf8ToCp1250(file));
        std::uint32_t missing = 0;
        std::uint32_t error = 0;
        const int loaded =
            wine.empty() || !hostThere ? -1 : drv::bridge::Probe(file, cdeclCall, missing, error);
        std::string text = name + ": ";
        if (loaded == static_cast<int>(drvhost::Loaded::Ok)) {
            text += "načte se, všech sedm vstupních bodů";
            entry.Text("status", "ok");
            ++usable;
        } else if (loaded == static_cast<int>(drvhost::Loaded::MissingEntry)) {
            text += "načte se, chybí vstupní body:";
            std::vector<std::string> names;
            for (int i = 0; i < 7; ++i) {
                if (missing & (1U << i)) {
                    names.push_back(JsonString(std::string(library) + "_" + kEntries[i]));
                    text += std::string(" ") + library + "_" + kEntries[i];
                }
            }
            entry.Text("status", "missing_entries")
                .Raw("missing_entries", JsonArrayOf(names.data(), names.size()));
        } else if (loaded == static_cast<int>(drvhost::Loaded::NotLoadable)) {
            const std::string reason = NotLoadableText(error);
            text += "nelze načíst: " + reason + (error != 0 ? " (chyba " + std::to_string(error) + ")" : "");
            entry.Text("status", "not_loadable").Text("reason", reason).Number("error", error);
        } else {
            // Nothing of the library was tried: say what is missing.
            const std::string reason = wine.empty() ? "wine nenalezen"
                                       : !hostThere ? "hostitel ovladačů chybí"
                                       : loaded < 0 ? "hostitel ovladačů se nespustil nebo neodpověděl"
                                                    : "hostitel ovladačů odmítl své argumenty";
            text += "nelze vyzkoušet: " + reason;
            entry.Text("status", "host_failed").Text("reason", reason);
        }
        ok = ok && loaded == static_cast<int>(drvhost::Loaded::Ok);
        line(text);
        libraries.push_back(entry.Str());
    }
    report.Raw("libraries", JsonArrayOf(libraries.data(), libraries.size()));
    return finish(ok && usable > 0 ? 0 : 1);
}
