// rq905ctl's configuration commands: config read, write, save, diff and
// apply, over one module or the modules of a converters' list.
#include <cstdio>
#include <functional>
#include <optional>

#include "CtlCommands.h"
#include "CtlConfigFile.h"
#include "CtlFile.h"
#include "CtlInterrupt.h"
#include "CtlRun.h"
#include "core/Cp1250.h"
#include "core/IntText.h"
#include "core/LocalTime.h"

namespace {

// The registers of a sequence done before it ended with outcome.
void AppendDone(const TRegisterSequence& sequence, const TSequenceOutcome& outcome,
                std::vector<uint8_t>& done) {
    for (const TRegisterField& field : sequence.fields) {
        if (outcome.result != TSequenceResult::Done && field.reg == outcome.reg) break;
        done.push_back(field.reg);
    }
}

// The configuration's groups as the three settings dialogs hold them.
struct TGroup {
    const TRegisterSequence* sequence;
    bool (*touched)(const TConfigChanges& c);
    bool (*complete)(const TConfigChanges& c);  // every register of it is given
    void (*apply)(const TConfigChanges& c, TModuleConfig& config);
};

const TGroup kGroups[] = {
    {&kAddressSpeedRegisters, [](const TConfigChanges& c) { return c.busAddress || c.speedIndex; },
     [](const TConfigChanges& c) { return c.busAddress && c.speedIndex; },
     [](const TConfigChanges& c, TModuleConfig& config) {
         if (c.busAddress) config.BusAddress = *c.busAddress;
         if (c.speedIndex) config.SpeedIndex = *c.speedIndex;
     }},
    {&kDigitalIoRegisters,
     [](const TConfigChanges& c) { return c.doutInitial || c.dinNegation || c.doutNegation; },
     [](const TConfigChanges& c) { return c.doutInitial && c.dinNegation && c.doutNegation; },
     [](const TConfigChanges& c, TModuleConfig& config) {
         // Only element 0 reaches the module; the dialog writes the rest 0.
         if (c.doutInitial) config.DoutInitial = {*c.doutInitial, 0, 0, 0};
         if (c.dinNegation) config.DinNegation = {*c.dinNegation, 0, 0, 0};
         if (c.doutNegation) config.DoutNegation = {*c.doutNegation, 0, 0, 0};
     }},
    {&kPwmRegisters, [](const TConfigChanges& c) { return c.pwmInitial || c.pwmPeriod || c.pwmNegation; },
     [](const TConfigChanges& c) { return c.pwmInitial && c.pwmPeriod && c.pwmNegation; },
     [](const TConfigChanges& c, TModuleConfig& config) {
         if (c.pwmInitial) config.PwmInitial = *c.pwmInitial;
         // Period and negation share register 37: the one not given keeps
         // the module's value. The byte is built as the dialog builds it.
         if (c.pwmPeriod || c.pwmNegation) {
             const auto period = static_cast<uint8_t>(c.pwmPeriod.value_or(config.PwmMode & 7));
             const bool negated = c.pwmNegation.value_or((config.PwmMode & 0x80) != 0);
             config.PwmMode = static_cast<uint8_t>(period | (negated ? 0x80 : 0));
         }
     }},
};

std::string PwmPeriodText(uint8_t code) {
    if (code >= kPwmPeriodCount) return "neplatný kód " + IntToStr(code);
    const uint32_t ms = kPwmPeriodMs[code];
    char text[32];
    std::snprintf(text, sizeof text, "%u,%03u s", ms / 1000, ms % 1000);
    return text;
}

std::string PinsText(uint8_t value, const char* pin) {
    std::string text = Hex(value, 2);
    std::string set;
    for (unsigned n = 0; n < 8; ++n) {
        if ((value >> n) & 1) set += (set.empty() ? "" : " ") + std::string(pin) + IntToStr(n);
    }
    return text + (set.empty() ? "" : " (" + set + ")");
}

std::string ConfigJson(const TModuleConfig& c) {
    TJsonObject json;
    json.Number("bus_address", c.BusAddress).Number("speed_index", c.SpeedIndex);
    if (c.SpeedIndex < kSpeedCount) {
        json.Number("line_speed", kLineSpeeds[c.SpeedIndex].baud);
    } else {
        json.Null("line_speed");
    }
    json.Number("din_negation", c.DinNegation[0])
        .Number("dout_negation", c.DoutNegation[0])
        .Number("dout_initial", c.DoutInitial[0])
        .Number("pwm_initial", c.PwmInitial)
        .Number("pwm_mode", c.PwmMode)
        .Number("pwm_period_code", c.PwmMode & 7);
    if ((c.PwmMode & 7) < kPwmPeriodCount) {
        json.Number("pwm_period_ms", kPwmPeriodMs[c.PwmMode & 7]);
    } else {
        json.Null("pwm_period_ms");
    }
    json.Bool("pwm_negation", (c.PwmMode & 0x80) != 0);
    return json.Str();
}

std::string ConfigText(const TModuleConfig& c) {
    const std::string speed = c.SpeedIndex < kSpeedCount ? std::string(kLineSpeeds[c.SpeedIndex].listText)
                                                         : "neplatný index " + IntToStr(c.SpeedIndex);
    return "Adresa modulu:          " + IntToStr(c.BusAddress) + "\nKomunikační rychlost:   " + speed +
           "\nNegace DIN:             " + PinsText(c.DinNegation[0], "DIN") +
           "\nNegace DOUT:            " + PinsText(c.DoutNegation[0], "DOUT") +
           "\nPočáteční stav DOUT:    " + PinsText(c.DoutInitial[0], "DOUT") +
           "\nPerioda PWM:            " + PwmPeriodText(c.PwmMode & 7) +
           "\nNegace výstupu PWM:     " + ((c.PwmMode & 0x80) != 0 ? "zapnuta" : "vypnuta") +
           "\nInicializační hodnota PWM: " + IntToStr(c.PwmInitial);
}

class TConfigRun final : public TCtlRun {
  public:
    using TCtlRun::TCtlRun;

  private:
    int Command() override;
    // Every group into config; on a failure or a signal it has reported
    // and gives the exit status.
    std::optional<int> ReadAll(TModuleConfig& config);
    int ConfigRead();
    int ConfigWrite();
    int ConfigSave();
    int ConfigDiff();
    int ConfigApply();
    // config diff of every module of the converters' list.
    int DiffTargets();
    // Tells, unless in JSON, what a failure leaves undone: the list's lines.
    void StoppedAfterFailure(const std::vector<std::string>& notBegun);
    // A module's line and object begin with its converter, when a list
    // named it.
    std::string ModuleHead(uint8_t address) const;
    TJsonObject ModuleJson(uint8_t address) const;
    // One module of config apply.
    enum class TApplied : uint8_t { Done, Failed, NotBegun };
    TApplied ApplyTo(uint8_t address);

    std::string m_converter;  // of the module under way, when a list named it
};

int TConfigRun::Command() {
    if (m_o.command == TCommand::ConfigApply) return ConfigApply();
    if (m_o.command == TCommand::ConfigDiff && !m_targets.empty()) return DiffTargets();
    if (const auto exit = ConnectModule()) return *exit;
    int exit = kExitOk;
    switch (m_o.command) {
        case TCommand::ConfigRead:
            exit = ConfigRead();
            break;
        case TCommand::ConfigWrite:
            exit = ConfigWrite();
            break;
        case TCommand::ConfigSave:
            exit = ConfigSave();
            break;
        default:
            exit = ConfigDiff();
            break;
    }
    CloseLink(m_data);
    return exit;
}

std::optional<int> TConfigRun::ReadAll(TModuleConfig& config) {
    for (const TGroup& group : kGroups) {
        const TSequenceOutcome outcome = ReadConfig(m_data, *group.sequence, config, Hooks());
        if (outcome.result == TSequenceResult::Stopped) return Interrupted();
        if (outcome.result != TSequenceResult::Done) {
            return Fail(
                outcome.status, ResultMessage(m_data.Kind, outcome.status),
                [&](TJsonObject& e) { e.Number("register", outcome.reg); },
                RegisterContext("Čtení", outcome.reg));
        }
    }
    return std::nullopt;
}

int TConfigRun::ConfigRead() {
    TModuleConfig config = m_data.ModuleConfig;
    if (const auto exit = ReadAll(config)) return *exit;
    if (m_o.csv) {
        // One line per module, so that the reads of many append into one table.
        std::vector<std::string> header{"address", "ident"};
        std::vector<std::string> row{IntToStr(m_data.ModuleAddress), CsvText(PrintableText(m_ident.Text()))};
        for (const TConfigKey& key : kConfigKeys) {
            header.push_back(key.name);
            row.push_back(key.text(config));
        }
        if (!CsvHeader(header)) return kExitUsage;
        return Emit(CsvLine(row)) ? kExitOk : kExitFailure;
    }
    return Result(ConfigText(config), TJsonObject().Raw("config", ConfigJson(config))) ? kExitOk
                                                                                       : kExitFailure;
}

int TConfigRun::ConfigSave() {
    TModuleConfig config = m_data.ModuleConfig;
    if (const auto exit = ReadAll(config)) return *exit;
    std::string reason;
    if (!ConfigFileCanHold(config, reason)) return Fail("konfiguraci modulu nelze uložit: " + reason);
    const std::string comment = "Modul " + PrintableText(m_ident.Text()) + ", adresa " +
                                IntToStr(m_data.ModuleAddress) + ", uloženo " + LocalTimeNow().iso;
    const std::string path = Utf8ToCp1250(m_o.file);
    if (!WriteFileAtomically(m_o.file, ConfigFileText(config, comment), reason))
        return Fail("soubor " + path + ": " + reason);
    Result("Konfigurace uložena do " + path + ".",
           TJsonObject().Text("saved", path).Raw("config", ConfigJson(config)));
    return kExitOk;
}

int TConfigRun::ConfigDiff() {
    TModuleConfig config = m_data.ModuleConfig;
    if (const auto exit = ReadAll(config)) return *exit;
    std::vector<std::string> json;
    std::vector<std::string> csv;
    std::string text;
    for (const auto& [key, module, file] : ConfigDifferences(config, m_file, m_o.includeAddress)) {
        json.push_back(TJsonObject().Text("key", key->name).Text("module", module).Text("file", file).Str());
        csv.push_back(CsvLine({IntToStr(m_data.ModuleAddress), key->name, module, file}));
        text +=
            (text.empty() ? "" : "\n") + std::string(key->name) + ": modul " + module + ", soubor " + file;
    }
    const int exit = json.empty() ? kExitOk : kExitFailure;
    if (m_o.csv) {
        // Equal: the header alone.
        if (!CsvHeader({"address", "key", "module", "file"})) return kExitUsage;
        if (!CsvHeaderOnly()) return m_failureExit;
        for (const std::string& line : csv) {
            if (!Emit(line)) return m_failureExit;
        }
        return exit;
    }
    if (!Result(json.empty() ? "Konfigurace modulu odpovídá souboru." : text,
                TJsonObject()
                    .Bool("equal", json.empty())
                    .Raw("differences", JsonArrayOf(json.data(), json.size()))))
        return m_failureExit;
    return exit;
}

TConfigRun::TApplied TConfigRun::ApplyTo(uint8_t address) {
    const std::string head = ModuleHead(address);
    std::vector<uint8_t> written;
    auto failed = [&](uint32_t code, const std::string& text, const std::string& context,
                      const std::function<void(TJsonObject&)>& more) {
        if (m_o.json) {
            TJsonObject error;
            error.Number("code", code).Text("text", text);
            if (more) more(error);
            error.Raw("written", RegisterJson(written));
            WriteLine(m_io.out, ModuleJson(address).Raw("error", error.Str()).Str());
        } else {
            WriteLine(m_io.out,
                      head + context + text + (written.empty() ? "" : " (" + WrittenText(written) + ")"));
        }
        return TApplied::Failed;
    };

    m_data.ModuleAddress = address;
    TIdent ident;
    const TLinkOutcome identified = ::Identify(m_data, address, ident);
    if (identified.interrupted) return TApplied::NotBegun;
    if (identified.code != 0) return failed(identified.code, identified.text, {}, {});

    // Once a module is begun it is finished: a signal waits for its last
    // read-back rather than leave it half configured.
    TSequenceHooks hooks = Hooks();
    hooks.proceed = {};
    for (const TGroup& group : kGroups) {
        if (group.sequence == &kAddressSpeedRegisters && !m_o.includeAddress) continue;
        const TSequenceOutcome outcome = WriteConfig(m_data, *group.sequence, m_file, hooks);
        AppendDone(*group.sequence, outcome, written);
        if (outcome.result != TSequenceResult::Done) {
            const bool mismatch = outcome.result == TSequenceResult::Mismatch;
            return failed(mismatch ? kWriteMismatch : outcome.status,
                          mismatch ? kMismatchText : ResultMessage(m_data.Kind, outcome.status),
                          RegisterContext("Zápis", outcome.reg), [&](TJsonObject& e) {
                              e.Number("register", outcome.reg).Bool("mismatch", mismatch);
                          });
        }
    }
    Result(head + PrintableText(ident.Text()) + ", konfigurace zapsána (registry " + RegisterList(written) +
               ").",
           ModuleJson(address).Text("ident", ident.Text()).Raw("written", RegisterJson(written)));
    return TApplied::Done;
}

int TConfigRun::ConfigApply() {
    // Without a list of converters, the one of the connection.
    std::vector<TTarget> targets = m_targets;
    const bool named = !targets.empty();
    if (!named) targets.push_back({{}, m_data.Kind, {}, {}, {}, {}, m_o.addresses});
    const TData connection = m_data;
    bool allDone = true;
    for (std::size_t t = 0; t < targets.size(); ++t) {
        const TTarget& target = targets[t];
        // What a stop leaves undone: this converter's modules from i on and
        // the converters after it.
        auto notBegun = [&](std::size_t i) {
            std::vector<std::string> lines;
            const std::vector<uint8_t> rest(target.addresses.begin() + static_cast<std::ptrdiff_t>(i),
                                            target.addresses.end());
            if (!rest.empty()) lines.push_back(TargetLine(target, rest));
            for (std::size_t u = t + 1; u < targets.size(); ++u)
                lines.push_back(TargetLine(targets[u], targets[u].addresses));
            return lines;
        };
        if (named) {
            m_data = connection;
            ApplyTarget(m_data, target);
            m_converter = target.converter;
        }
        const TLinkOutcome opened = OpenLink(m_data, kStandardMode);
        if (opened.interrupted) {
            if (!named) return Interrupted();
            const std::vector<std::string> lines = notBegun(0);
            return Interrupted(nullptr, nullptr, &lines);
        }
        if (opened.code != 0) {
            if (!named) return LinkFail(opened);
            // One converter out of reach is one line, as a module's failure.
            if (m_o.json) {
                WriteLine(m_io.out,
                          TJsonObject()
                              .Text("converter", target.converter)
                              .Raw("error",
                                   TJsonObject().Number("code", opened.code).Text("text", opened.text).Str())
                              .Str());
            } else {
                WriteLine(m_io.out, PrintableText(target.converter) + ": " + opened.text);
            }
            allDone = false;
            if (!m_o.keepGoing && t + 1 < targets.size()) {
                StoppedAfterFailure(notBegun(target.addresses.size()));
                break;
            }
            continue;
        }

        const std::vector<uint8_t>& addresses = target.addresses;
        bool stop = false;
        for (std::size_t i = 0; i < addresses.size() && !stop; ++i) {
            // Ctrl-C ends the run between two modules.
            const TApplied applied = InterruptRequested() ? TApplied::NotBegun : ApplyTo(addresses[i]);
            // Results that cannot be recorded stop the run.
            if (m_outputFailed) return kExitFailure;
            if (applied == TApplied::NotBegun) {
                const std::vector<uint8_t> remaining(addresses.begin() + static_cast<std::ptrdiff_t>(i),
                                                     addresses.end());
                if (!named) return Interrupted(nullptr, &remaining);
                const std::vector<std::string> lines = notBegun(i);
                return Interrupted(nullptr, nullptr, &lines);
            }
            if (applied == TApplied::Done) continue;
            allDone = false;
            const bool more = i + 1 < addresses.size() || t + 1 < targets.size();
            if (!m_o.keepGoing && more) {
                if (named) {
                    StoppedAfterFailure(notBegun(i + 1));
                } else if (!m_o.json) {
                    const std::vector<uint8_t> rest(addresses.begin() + static_cast<std::ptrdiff_t>(i + 1),
                                                    addresses.end());
                    WriteLine(m_io.err, "rq905ctl: zastaveno po chybě, nezačaté adresy " +
                                            AddressListText(rest) + " (--keep-going pokračuje i po chybě)");
                }
                stop = true;
            }
        }
        CloseLink(m_data);
        if (stop) break;
    }
    return allDone ? kExitOk : kExitFailure;
}

void TConfigRun::StoppedAfterFailure(const std::vector<std::string>& notBegun) {
    if (m_o.json || notBegun.empty()) return;
    WriteLine(m_io.err, "rq905ctl: zastaveno po chybě, nezačaté: " + JoinedTargets(notBegun) +
                            " (--keep-going pokračuje i po chybě)");
}

std::string TConfigRun::ModuleHead(uint8_t address) const {
    return (m_converter.empty() ? "Adresa " : PrintableText(m_converter) + ", adresa ") + IntToStr(address) +
           ": ";
}

TJsonObject TConfigRun::ModuleJson(uint8_t address) const {
    TJsonObject json;
    if (!m_converter.empty()) json.Text("converter", m_converter);
    return json.Number("address", address);
}

int TConfigRun::DiffTargets() {
    const TData connection = m_data;
    bool failed = false;
    bool different = false;
    for (std::size_t t = 0; t < m_targets.size(); ++t) {
        const TTarget& target = m_targets[t];
        m_data = connection;
        ApplyTarget(m_data, target);
        m_converter = target.converter;
        auto failure = [&](uint8_t address, uint32_t code, const std::string& text, bool module) {
            failed = true;
            TJsonObject json;
            json.Text("converter", target.converter);
            if (module) json.Number("address", address);
            const std::string error = TJsonObject().Number("code", code).Text("text", text).Str();
            if (m_o.json) {
                WriteLine(m_io.out, json.Raw("error", error).Str());
            } else {
                // Failures on stderr, so that the results stay a list of modules.
                WriteLine(m_io.err,
                          "rq905ctl: " +
                              (module ? ModuleHead(address) : PrintableText(target.converter) + ": ") + text);
            }
        };
        const TLinkOutcome opened = OpenLink(m_data, kStandardMode);
        if (opened.interrupted) return Interrupted();
        if (opened.code != 0) {
            failure(0, opened.code, opened.text, false);
            continue;
        }
        for (const uint8_t address : target.addresses) {
            m_data.ModuleAddress = address;
            TModuleConfig config = m_data.ModuleConfig;
            TSequenceOutcome outcome{};
            outcome.result = TSequenceResult::Done;
            for (const TGroup& group : kGroups) {
                outcome = ReadConfig(m_data, *group.sequence, config, Hooks());
                if (outcome.result != TSequenceResult::Done) break;
            }
            if (outcome.result == TSequenceResult::Stopped) return Interrupted();
            if (outcome.result != TSequenceResult::Done) {
                failure(address, outcome.status,
                        RegisterContext("Čtení", outcome.reg) + ResultMessage(m_data.Kind, outcome.status),
                        true);
                continue;
            }
            std::vector<std::string> json;
            std::string text;
            for (const auto& [key, module, file] : ConfigDifferences(config, m_file, m_o.includeAddress)) {
                json.push_back(
                    TJsonObject().Text("key", key->name).Text("module", module).Text("file", file).Str());
                text += (text.empty() ? "" : "; ") + std::string(key->name) + ": modul " + module +
                        ", soubor " + file;
            }
            different = different || !json.empty();
            // Results that cannot be written end the run (the exit says so).
            if (!Result(ModuleHead(address) + (json.empty() ? "Konfigurace modulu odpovídá souboru." : text),
                        ModuleJson(address)
                            .Bool("equal", json.empty())
                            .Raw("differences", JsonArrayOf(json.data(), json.size()))))
                return kExitDiffFailure;
        }
        CloseLink(m_data);
    }
    return failed ? kExitDiffFailure : different ? kExitFailure : kExitOk;
}

int TConfigRun::ConfigWrite() {
    TModuleConfig config = m_data.ModuleConfig;
    std::vector<uint8_t> written;
    for (const TGroup& group : kGroups) {
        if (!group.touched(m_o.changes)) continue;
        if (!group.complete(m_o.changes)) {
            const TSequenceOutcome read = ReadConfig(m_data, *group.sequence, config, Hooks());
            if (read.result == TSequenceResult::Stopped) return Interrupted(&written);
            if (read.result != TSequenceResult::Done) {
                return Fail(
                    read.status, ResultMessage(m_data.Kind, read.status),
                    [&](TJsonObject& e) {
                        e.Number("register", read.reg).Raw("written", RegisterJson(written));
                    },
                    RegisterContext("Čtení", read.reg));
            }
        }
        group.apply(m_o.changes, config);
        const TSequenceOutcome outcome = WriteConfig(m_data, *group.sequence, config, Hooks());
        AppendDone(*group.sequence, outcome, written);
        if (outcome.result == TSequenceResult::Stopped) return Interrupted(&written);
        if (outcome.result != TSequenceResult::Done) {
            const bool mismatch = outcome.result == TSequenceResult::Mismatch;
            const uint32_t code = mismatch ? kWriteMismatch : outcome.status;
            const std::string text = mismatch ? kMismatchText : ResultMessage(m_data.Kind, outcome.status);
            return Fail(
                code, text,
                [&](TJsonObject& e) {
                    e.Number("register", outcome.reg)
                        .Bool("mismatch", mismatch)
                        .Raw("written", RegisterJson(written));
                },
                RegisterContext("Zápis", outcome.reg));
        }
    }
    Result("Konfigurace zapsána (registry " + RegisterList(written) + ").",
           TJsonObject().Raw("written", RegisterJson(written)).Raw("config", ConfigJson(config)));
    // The signal came during the last read-back: all is written, and said.
    if (InterruptRequested()) return Interrupted(&written);
    return kExitOk;
}

}  // namespace

const char* RegisterName(unsigned reg) {
    switch (reg) {
        case kRegDoutInitial:
            return "počáteční stav DOUT";
        case kRegDinNegation:
            return "negace DIN";
        case kRegDoutNegation:
            return "negace DOUT";
        case kRegPwmInitialLow:
            return "inicializační hodnota PWM, dolní bajt";
        case kRegPwmInitialHigh:
            return "inicializační hodnota PWM, horní bajt";
        case kRegPwmMode:
            return "perioda a negace PWM";
        case kRegSpeedIndex:
            return "komunikační rychlost";
        case kRegBusAddress:
            return "adresa modulu";
        default:
            return "neznámý registr";
    }
}

int RunConfigCommand(const TCtlRunSetup& setup, const std::string& settingsPath) {
    return TConfigRun(setup).Run(settingsPath);
}
