#include "CtlTargets.h"

#include "CtlArgs.h"
#include "core/Cp1250.h"
#include "core/IntText.h"
#include "link/Txxx318.h"

namespace {

struct TConverterKind {
    const char* name;
    uint8_t kind;
    bool takesValue;
};
constexpr TConverterKind kConverterKinds[] = {
    {"com", kKindCom, true},  {"isa", kKindIsa, true}, {"pci", kKindPci, false},
    {"usb", kKindUsb, false}, {"lan", kKindLan, true},
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

bool ParseConverter(std::string_view text, TTarget& target) {
    const std::size_t colon = text.find(':');
    const std::string_view name = text.substr(0, colon);
    const std::string_view value =
        colon == std::string_view::npos ? std::string_view() : text.substr(colon + 1);
    for (const TConverterKind& k : kConverterKinds) {
        if (!Cp1250EqualNoCase(name, k.name)) continue;
        if (k.takesValue != (colon != std::string_view::npos) || (k.takesValue && value.empty()))
            return false;
        target.kind = k.kind;
        int32_t n = 0;
        switch (k.kind) {
            case kKindCom:
                if (!TryStrToInt(value, n) || n < 1 || n > 255) return false;
                target.comPort = static_cast<uint8_t>(n);
                return true;
            case kKindIsa: {
                // 300h as the tool shows a base, or the integer rule.
                const bool suffix = value.size() > 1 && (value.back() == 'h' || value.back() == 'H');
                const std::string digits =
                    suffix ? "$" + std::string(value.substr(0, value.size() - 1)) : std::string(value);
                if (!TryStrToInt(digits, n) || n < 1 || n > 0xFFFF) return false;
                target.isaBase = static_cast<uint16_t>(n);
                return true;
            }
            case kKindLan: {
                const std::size_t port = value.rfind(':');
                if (port != std::string_view::npos) {
                    if (!TryStrToInt(value.substr(port + 1), n) || n < 1 || n > 65535) return false;
                    target.udpPort = static_cast<uint32_t>(n);
                }
                target.host = std::string(value.substr(0, port));
                return !target.host->empty();
            }
            default:
                return true;
        }
    }
    return false;
}

}  // namespace

bool ParseTargets(std::string_view utf8, std::vector<TTarget>& targets, std::string& reason) {
    if (utf8.substr(0, 3) == "\xEF\xBB\xBF") utf8.remove_prefix(3);
    std::vector<TTarget> list;
    unsigned number = 0;
    while (!utf8.empty()) {
        const std::size_t end = utf8.find('\n');
        std::string_view line = utf8.substr(0, end);
        utf8.remove_prefix(end == std::string_view::npos ? utf8.size() : end + 1);
        ++number;
        // A comment may also end a line: no converter or address has '#' or ';'.
        line = line.substr(0, line.find_first_of("#;"));
        while (!line.empty() && IsBlank(line.front())) line.remove_prefix(1);
        while (!line.empty() && IsBlank(line.back())) line.remove_suffix(1);
        if (line.empty()) continue;
        const std::string where = "řádek " + IntToStr(number) + ": ";
        std::size_t gap = 0;
        while (gap < line.size() && !IsBlank(line[gap])) ++gap;
        std::size_t rest = gap;
        while (rest < line.size() && IsBlank(line[rest])) ++rest;
        TTarget target;
        target.converter = Utf8ToCp1250(line.substr(0, gap));
        if (!ParseConverter(line.substr(0, gap), target)) {
            reason = where + "neplatný převodník " + PrintableText(target.converter) +
                     " (lan:ADRESA[:PORT], com:N, isa:BÁZE, pci nebo usb)";
            return false;
        }
        if (rest == line.size()) {
            reason = where + "chybí adresy modulů za převodníkem";
            return false;
        }
        if (!ParseAddressList(line.substr(rest), target.addresses)) {
            reason = where + "neplatné adresy " + PrintableText(Utf8ToCp1250(line.substr(rest))) +
                     " (adresy a rozsahy 0-255, např. 1,3,7-12)";
            return false;
        }
        list.push_back(std::move(target));
    }
    if (list.empty()) {
        reason = "žádný převodník";
        return false;
    }
    targets = std::move(list);
    return true;
}

void ApplyTarget(TData& data, const TTarget& target) {
    data.Kind = target.kind;
    if (target.comPort) data.ComPort = *target.comPort;
    if (target.isaBase) data.IsaBase = *target.isaBase;
    if (target.host) data.IpAddress = Utf8ToCp1250(*target.host);
    if (target.udpPort) data.UdpPort = *target.udpPort;
}

std::string AddressListText(const std::vector<uint8_t>& addresses) {
    std::string text;
    for (std::size_t i = 0; i < addresses.size();) {
        std::size_t j = i;
        while (j + 1 < addresses.size() && addresses[j + 1] == addresses[j] + 1) ++j;
        text += (text.empty() ? "" : ",") + IntToStr(addresses[i]);
        if (j > i) text += (j == i + 1 ? "," : "-") + IntToStr(addresses[j]);
        i = j + 1;
    }
    return text;
}

std::string TargetLine(const TTarget& target, const std::vector<uint8_t>& addresses) {
    return target.converter + " " + AddressListText(addresses);
}
