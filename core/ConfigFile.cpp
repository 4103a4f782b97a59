#include "core/ConfigFile.h"

#include <cstdio>

#include "core/Cp1250.h"
#include "core/IntText.h"
#include "link/Txxx318.h"

namespace {

constexpr uint8_t kNegationBit = 0x80;

std::string Hex2(uint8_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

bool Number(std::string_view text, int32_t max, int32_t& value) {
    int32_t v = 0;
    if (!TryStrToInt(text, v) || v < 0 || v > max) return false;
    value = v;
    return true;
}

template <auto Field>
std::string ByteText(const TModuleConfig& c) {
    return Hex2((c.*Field)[0]);
}

template <auto Field>
bool ParseByte(std::string_view text, TModuleConfig& c) {
    int32_t v = 0;
    if (!Number(text, 255, v)) return false;
    (c.*Field)[0] = static_cast<uint8_t>(v);
    return true;
}

std::string LineSpeedText(const TModuleConfig& c) {
    if (c.SpeedIndex < kSpeedCount) return IntToStr(kLineSpeeds[c.SpeedIndex].baud);
    return "(index " + IntToStr(c.SpeedIndex) + ")";
}

// Bits 3..6 of the PWM register have no key: a module value with any of
// them set has no form in the file, like a period code of 7.
std::string PwmPeriodText(const TModuleConfig& c) {
    const unsigned code = c.PwmMode & ~kNegationBit;
    if (code < kPwmPeriodCount) return IntToStr(kPwmPeriodMs[code]);
    return "(registr 37 = " + Hex2(c.PwmMode) + ")";
}

bool ParsePwmPeriod(std::string_view text, TModuleConfig& c) {
    int32_t v = 0;
    if (!Number(text, 65535, v)) return false;
    for (uint8_t code = 0; code < kPwmPeriodCount; ++code) {
        if (kPwmPeriodMs[code] == static_cast<uint32_t>(v)) {
            c.PwmMode = static_cast<uint8_t>((c.PwmMode & kNegationBit) | code);
            return true;
        }
    }
    return false;
}

// Blanks around names and values do not count, nor the CR of a CRLF.
std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

}  // namespace

bool ParseLineSpeed(std::string_view text, std::optional<uint8_t>& index) {
    int32_t v = 0;
    if (!TryStrToInt(text, v) || v < 1 || v > 115200) return false;
    for (uint8_t i = 0; i < kSpeedCount; ++i) {
        if (kLineSpeeds[i].baud == static_cast<uint32_t>(v)) {
            index = i;
            return true;
        }
    }
    return false;
}

bool ParseOnOff(std::string_view text, std::optional<bool>& target) {
    for (const char* on : {"on", "1", "zapnuta"}) {
        if (Cp1250EqualNoCase(text, on)) {
            target = true;
            return true;
        }
    }
    for (const char* off : {"off", "0", "vypnuta"}) {
        if (Cp1250EqualNoCase(text, off)) {
            target = false;
            return true;
        }
    }
    return false;
}

const std::vector<TConfigKey> kConfigKeys{
    {"bus_address", true, [](const TModuleConfig& c) { return IntToStr(c.BusAddress); },
     [](std::string_view t, TModuleConfig& c) {
         int32_t v = 0;
         if (!Number(t, 255, v)) return false;
         c.BusAddress = static_cast<uint8_t>(v);
         return true;
     }},
    {"line_speed", true, LineSpeedText,
     [](std::string_view t, TModuleConfig& c) {
         std::optional<uint8_t> index;
         if (!ParseLineSpeed(t, index)) return false;
         c.SpeedIndex = *index;
         return true;
     }},
    {"din_negation", false, ByteText<&TModuleConfig::DinNegation>, ParseByte<&TModuleConfig::DinNegation>},
    {"dout_negation", false, ByteText<&TModuleConfig::DoutNegation>, ParseByte<&TModuleConfig::DoutNegation>},
    {"dout_initial", false, ByteText<&TModuleConfig::DoutInitial>, ParseByte<&TModuleConfig::DoutInitial>},
    {"pwm_initial", false, [](const TModuleConfig& c) { return IntToStr(c.PwmInitial); },
     [](std::string_view t, TModuleConfig& c) {
         int32_t v = 0;
         if (!Number(t, 65535, v)) return false;
         c.PwmInitial = static_cast<uint16_t>(v);
         return true;
     }},
    {"pwm_period_ms", false, PwmPeriodText, ParsePwmPeriod},
    {"pwm_negation", false,
     [](const TModuleConfig& c) { return std::string((c.PwmMode & kNegationBit) != 0 ? "on" : "off"); },
     [](std::string_view t, TModuleConfig& c) {
         std::optional<bool> on;
         if (!ParseOnOff(t, on)) return false;
         c.PwmMode = static_cast<uint8_t>((c.PwmMode & ~kNegationBit) | (*on ? kNegationBit : 0));
         return true;
     }},
};

std::string ConfigFileText(const TModuleConfig& config, std::string_view comment) {
    std::string text = "; " + std::string(comment) + "\n[" + kConfigSection + "]\n";
    for (const TConfigKey& key : kConfigKeys) text += std::string(key.name) + "=" + key.text(config) + "\n";
    return Cp1250ToUtf8(text);
}

bool ParseConfigFile(std::string_view utf8, TModuleConfig& config, std::string& reason) {
    if (utf8.substr(0, 3) == "\xEF\xBB\xBF") utf8.remove_prefix(3);
    TModuleConfig c;
    c.DinNegation = c.DoutNegation = c.DoutInitial = {0, 0, 0, 0};
    c.PwmMode = 0;
    std::vector<bool> given(kConfigKeys.size(), false);
    bool inSection = false;
    bool sectionSeen = false;
    unsigned lineNumber = 0;
    auto fail = [&](const std::string& text) {
        reason = "řádek " + IntToStr(lineNumber) + ": " + text;
        return false;
    };
    while (!utf8.empty()) {
        ++lineNumber;
        const std::size_t end = utf8.find('\n');
        const std::string_view line = Trim(utf8.substr(0, end));
        utf8.remove_prefix(end == std::string_view::npos ? utf8.size() : end + 1);
        if (line.empty() || line.front() == ';' || line.front() == '#') continue;
        // What a file says is shown, never obeyed: its control bytes would
        // drive the terminal.
        const std::string typed = PrintableText(Utf8ToCp1250(line));
        if (line.front() == '[') {
            if (line.back() != ']') return fail("neúplný název oddílu " + typed);
            const std::string_view name = Trim(line.substr(1, line.size() - 2));
            if (!Cp1250EqualNoCase(name, kConfigSection)) return fail("neznámý oddíl " + typed);
            if (sectionSeen) return fail("oddíl " + typed + " podruhé");
            inSection = sectionSeen = true;
            continue;
        }
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) return fail("očekáván klíč=hodnota, ne " + typed);
        const std::string_view name = Trim(line.substr(0, eq));
        const std::string_view value = Trim(line.substr(eq + 1));
        if (!inSection) return fail(std::string("klíč mimo oddíl [") + kConfigSection + "]");
        std::size_t k = 0;
        while (k < kConfigKeys.size() && !Cp1250EqualNoCase(name, kConfigKeys[k].name)) ++k;
        if (k == kConfigKeys.size()) return fail("neznámý klíč " + PrintableText(Utf8ToCp1250(name)));
        if (given[k]) return fail(std::string("klíč ") + kConfigKeys[k].name + " podruhé");
        if (!kConfigKeys[k].parse(value, c)) {
            return fail(std::string("neplatná hodnota klíče ") + kConfigKeys[k].name + ": " +
                        PrintableText(Utf8ToCp1250(value)));
        }
        given[k] = true;
    }
    std::string missing;
    for (std::size_t k = 0; k < kConfigKeys.size(); ++k) {
        if (!given[k]) missing += (missing.empty() ? "" : ", ") + std::string(kConfigKeys[k].name);
    }
    if (!missing.empty()) {
        reason = (missing.find(',') == std::string::npos ? "chybí klíč " : "chybí klíče ") + missing;
        return false;
    }
    config = c;
    return true;
}

bool ConfigFileCanHold(const TModuleConfig& config, std::string& reason) {
    for (const TConfigKey& key : kConfigKeys) {
        TModuleConfig scratch = config;
        const std::string text = key.text(config);
        if (!key.parse(text, scratch)) {
            reason = std::string(key.name) + " " + text + " nemá tvar pro soubor";
            return false;
        }
    }
    return true;
}

std::vector<TConfigDifference> ConfigDifferences(const TModuleConfig& module, const TModuleConfig& file,
                                                 bool includeAddress) {
    std::vector<TConfigDifference> differences;
    for (const TConfigKey& key : kConfigKeys) {
        if (key.addressGroup && !includeAddress) continue;
        std::string inModule = key.text(module);
        std::string inFile = key.text(file);
        if (inModule != inFile) differences.push_back({&key, std::move(inModule), std::move(inFile)});
    }
    return differences;
}
