#include "CtlCommands.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>

#include "CtlArgs.h"
#include "CtlConfigFile.h"
#include "CtlConnection.h"
#include "CtlFile.h"
#include "CtlInterrupt.h"
#include "CtlPorts.h"
#include "CtlStats.h"
#include "CtlTargets.h"
#include "core/AppendFile.h"
#include "core/ConfigRegisters.h"
#include "core/Cp1250.h"
#include "core/IntText.h"
#include "core/LocalTime.h"

namespace {

// A list of converters on standard input, read whole before the link opens.
bool ReadStream(std::istream& in, std::string& text, std::string& reason) {
    std::ostringstream all;
    all << in.rdbuf();
    if (in.bad()) {
        reason = "standardní vstup nelze číst";
        return false;
    }
    text = all.str();
    return true;
}

std::string JoinedTargets(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += (text.empty() ? "" : "; ") + line;
    return text;
}

constexpr auto kInputsPeriod = std::chrono::milliseconds(100);
constexpr auto kStatusPeriod = std::chrono::milliseconds(500);
// How often commission --yes looks for the module it waits for.
constexpr auto kCommissionPoll = std::chrono::milliseconds(300);

constexpr uint8_t kCmdRead = 0;
constexpr uint8_t kCmdWrite = 1;
constexpr uint8_t kIndexDigital = 64;
constexpr uint8_t kIndexPwm = 0;
constexpr uint8_t kCmdReadStatus = 100;
constexpr uint8_t kCmdClearStatus = 101;

std::string Hex(uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

std::string RegisterList(const std::vector<uint8_t>& regs, const char* separator = ", ") {
    std::string text;
    for (const uint8_t reg : regs) text += (text.empty() ? "" : separator) + IntToStr(reg);
    return text;
}

std::string RegisterJson(const std::vector<uint8_t>& regs) { return "[" + RegisterList(regs, ",") + "]"; }

std::string WrittenText(const std::vector<uint8_t>& written) {
    return written.empty()       ? "žádný registr nezapsán"
           : written.size() == 1 ? "zapsán registr " + RegisterList(written)
                                 : "zapsány registry " + RegisterList(written);
}

// The registers of a sequence done before it ended with outcome.
void AppendDone(const TRegisterSequence& sequence, const TSequenceOutcome& outcome,
                std::vector<uint8_t>& done) {
    for (const TRegisterField& field : sequence.fields) {
        if (outcome.result != TSequenceResult::Done && field.reg == outcome.reg) break;
        done.push_back(field.reg);
    }
}

// Commands that only read from the module; any other may write.
bool ReadsOnly(const TCtlOptions& o) {
    switch (o.command) {
        case TCommand::Identify:
        case TCommand::ConfigRead:
        case TCommand::ConfigSave:
        case TCommand::ConfigDiff:
        case TCommand::Din:
        case TCommand::Scan:
            return true;
        case TCommand::Status:
            return !o.clear;
        default:
            return false;
    }
}

class TCommandRun {
  public:
    // fileConfig: the values of config apply's or diff's file; output: the
    // open file of --output, if given.
    TCommandRun(const TCtlOptions& options, TCtlIo& io, const TModuleConfig& fileConfig, TOutputFile* output)
        : m_o(options),
          m_io(io),
          m_file(fileConfig),
          m_output(output),
          m_failureExit(options.command == TCommand::ConfigDiff ? kExitDiffFailure : kExitFailure) {}

    int Run(const std::string& settingsPath);
    // The converters and their modules of --targets.
    void SetTargets(std::vector<TTarget> targets) { m_targets = std::move(targets); }

  private:
    int RunCommand(const std::string& settingsPath);
    // A failure of the module or the link; texts are Windows-1250. context
    // leads the text for a person; JSON carries it in the extra members.
    int Fail(uint32_t code, const std::string& text, const std::function<void(TJsonObject&)>& more = {},
             const std::string& context = {});
    // A failure without a result code (a file, a value).
    int Fail(const std::string& text);
    // The link could not be set up; a serial device that could not be
    // found or opened is named, with the system's reason.
    int LinkFail(const TLinkOutcome& outcome);
    // False when the --output file could not take it.
    bool Result(const std::string& text, const TJsonObject& json);
    // A result line, to the --output file or else to standard output, the
    // CSV header first where there is none yet. False when the file could
    // not take it, which has been reported.
    bool Emit(const std::string& line);
    // The header of the CSV that follows, with the number of value columns
    // a failed reading of a watch leaves empty.
    void CsvHeader(const std::vector<std::string>& fields, std::size_t values = 0);
    // The header alone, when no line may follow.
    bool CsvHeaderOnly();
    // A signal stopped the run before a transaction. written: the registers
    // config write had written by then; remaining: the modules config apply
    // did not begin.
    int Interrupted(const std::vector<uint8_t>* written = nullptr,
                    const std::vector<uint8_t>* remaining = nullptr,
                    const std::vector<std::string>* remainingTargets = nullptr);
    TReply Transact(uint8_t command, uint8_t index, uint8_t d1 = 0, uint8_t d2 = 0) {
        return ::Transact(m_data, m_data.ModuleAddress, command, index, d1, d2);
    }

    int Identify(const TIdent& ident);
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
    int SetOutputs(uint8_t command, uint8_t index, uint8_t d1, uint8_t d2, const char* done,
                   TJsonObject json);
    int Din();
    int Status();
    int Scan();
    int Commission();
    // One step of commission waits for the technician: at a terminal for
    // Enter after the text, with --yes half a second before trying again
    // (the text once, until it changes). False: stopped.
    bool Await(const std::string& step, uint8_t address, const std::string& text);
    // The probe of commission at an address and speed, in the scan mode.
    TProbe ProbeAt(uint8_t address, uint8_t speedIndex);
    std::string m_awaited;  // the text --yes showed last
    std::vector<TTarget> m_targets;
    std::string m_converter;  // of the module under way, when a list named it
    int Send();
    // Polls once, or at period until Ctrl-C or --count. poll returns the
    // reply of its transaction and sets the text, the JSON members and the
    // CSV fields of its reading.
    int Poll(std::chrono::milliseconds period,
             const std::function<TReply(std::string& text, TJsonObject& json, std::vector<std::string>& csv)>&
                 poll);
    // The summary of --stats, once the link is closed.
    void Summary();

    TSequenceHooks Hooks();

    const TCtlOptions& m_o;
    TCtlIo& m_io;
    const TModuleConfig m_file;
    TOutputFile* const m_output;
    const int m_failureExit;
    TData m_data;
    TIdent m_ident;
    std::string m_csvHeader;
    std::size_t m_csvValues = 0;
    bool m_headerDone = false;
    bool m_outputFailed = false;
    TLinkStats m_stats;
    std::unique_ptr<TStatsRecorder> m_recorder;
};

int TCommandRun::Fail(uint32_t code, const std::string& text, const std::function<void(TJsonObject&)>& more,
                      const std::string& context) {
    if (m_o.json) {
        TJsonObject error;
        error.Number("code", code).Text("text", text);
        if (more) more(error);
        WriteLine(m_io.out, TJsonObject().Raw("error", error.Str()).Str());
    } else {
        WriteLine(m_io.err, "rq905ctl: " + context + text);
    }
    return m_failureExit;
}

int TCommandRun::Fail(const std::string& text) {
    if (m_o.json) {
        WriteLine(m_io.out, TJsonObject().Raw("error", TJsonObject().Text("text", text).Str()).Str());
    } else {
        WriteLine(m_io.err, "rq905ctl: " + text);
    }
    return m_failureExit;
}

int TCommandRun::LinkFail(const TLinkOutcome& outcome) {
    const bool deviceCode = outcome.code == 3 || outcome.code == 4 || outcome.code == 5;
    const std::optional<TDeviceProblem> problem = deviceCode ? DeviceProblem(m_data) : std::nullopt;
    if (!problem) return Fail(outcome.code, outcome.text);
    const int exit = Fail(outcome.code, outcome.text, [&](TJsonObject& e) {
        if (problem->path.empty()) {
            e.Null("device");
        } else {
            e.Text("device", problem->path);
        }
        e.Text("source", problem->source);
        if (!problem->origin.empty()) e.Text("origin", problem->origin);
        e.Text("reason", problem->reason);
    });
    if (!m_o.json) WriteLine(m_io.err, "rq905ctl: " + problem->text);
    return exit;
}

bool TCommandRun::Result(const std::string& text, const TJsonObject& json) {
    return Emit(m_o.json ? json.Str() : text);
}

bool TCommandRun::Emit(const std::string& line) {
    if (m_outputFailed) return false;
    if (m_output == nullptr) {
        if (!m_csvHeader.empty() && !m_headerDone) WriteLine(m_io.out, m_csvHeader);
        m_headerDone = true;
        WriteLine(m_io.out, line);
        return true;
    }
    // A file emptied by a rotation gets the header again.
    std::string text;
    if (!m_csvHeader.empty() && m_output->Empty()) text = Cp1250ToUtf8(m_csvHeader) + "\n";
    text += Cp1250ToUtf8(line) + "\n";
    std::string reason;
    if (m_output->Append(text, reason)) return true;
    m_outputFailed = true;
    WriteLine(m_io.err, "rq905ctl: zápis do souboru " + Utf8ToCp1250(m_o.output.value_or("")) +
                            " selhal, výstup skončil: " + reason);
    return false;
}

void TCommandRun::CsvHeader(const std::vector<std::string>& fields, std::size_t values) {
    if (!m_o.csv) return;
    m_csvHeader = CsvLine(fields);
    m_csvValues = values;
}

bool TCommandRun::CsvHeaderOnly() {
    if (m_csvHeader.empty()) return true;
    if (m_output == nullptr) {
        if (!m_headerDone) WriteLine(m_io.out, m_csvHeader);
        m_headerDone = true;
        return true;
    }
    if (!m_output->Empty()) return true;
    std::string reason;
    if (m_output->Append(Cp1250ToUtf8(m_csvHeader) + "\n", reason)) return true;
    m_outputFailed = true;
    WriteLine(m_io.err,
              "rq905ctl: zápis do souboru " + Utf8ToCp1250(m_o.output.value_or("")) + " selhal: " + reason);
    return false;
}

void TCommandRun::Summary() {
    m_recorder->Finish();
    const bool perAddress = m_o.command == TCommand::Scan || m_o.command == TCommand::ConfigApply ||
                            m_o.command == TCommand::Commission;
    if (m_o.json) {
        WriteLine(m_io.out, StatsJson(m_stats, perAddress));
    } else {
        // Beside CSV on standard output it goes to standard error, so that
        // the CSV stays one table.
        WriteLine(m_o.csv && m_output == nullptr ? m_io.err : m_io.out, StatsText(m_stats, perAddress));
    }
}

int TCommandRun::Interrupted(const std::vector<uint8_t>* written, const std::vector<uint8_t>* remaining,
                             const std::vector<std::string>* remainingTargets) {
    CloseLink(m_data);
    if (m_o.json) {
        TJsonObject json;
        json.Text("signal", InterruptName());
        if (written != nullptr) json.Raw("written", RegisterJson(*written));
        if (remaining != nullptr) json.Raw("remaining", RegisterJson(*remaining));
        if (remainingTargets != nullptr) {
            std::vector<std::string> lines;
            for (const std::string& line : *remainingTargets) lines.push_back(JsonString(line));
            json.Raw("remaining_targets", JsonArrayOf(lines.data(), lines.size()));
        }
        WriteLine(m_io.out, TJsonObject().Raw("interrupted", json.Str()).Str());
    } else {
        std::string text = "rq905ctl: přerušeno (" + std::string(InterruptName()) + ")";
        if (written != nullptr) text += ", " + WrittenText(*written);
        if (remaining != nullptr) text += ", nezačaté adresy " + AddressListText(*remaining);
        if (remainingTargets != nullptr) text += ", nezačaté: " + JoinedTargets(*remainingTargets);
        WriteLine(m_io.err, text);
    }
    return InterruptExitStatus();
}

TSequenceHooks TCommandRun::Hooks() {
    TSequenceHooks hooks;
    if (m_io.progress) {
        hooks.show = [this](const std::string& text) { WriteLine(m_io.err, text); };
    }
    // The dialogs' pause between transactions, kept so that the module
    // sees the same pacing from both.
    hooks.pause = [] { std::this_thread::sleep_for(std::chrono::milliseconds(1)); };
    hooks.proceed = [] { return !InterruptRequested(); };
    return hooks;
}

int TCommandRun::Run(const std::string& settingsPath) {
    const int exit = RunCommand(settingsPath);
    if (m_recorder) {
        CloseLink(m_data);
        Summary();
    }
    return exit;
}

int TCommandRun::RunCommand(const std::string& settingsPath) {
    PrepareData(m_data, settingsPath, m_o.connection);
    if (m_o.command == TCommand::Ports) return ListPorts(m_o, m_data, {}, m_io);
    // A read cut short loses nothing; a write is let finish.
    BeginTransfers(ReadsOnly(m_o));
    if (m_o.trace) SetTraceFile(*m_o.trace);
    if (m_o.stats) m_recorder = std::make_unique<TStatsRecorder>(m_stats, m_o.trace);
    if (m_o.command == TCommand::Scan) return Scan();
    if (m_o.command == TCommand::Send) return Send();
    if (m_o.command == TCommand::ConfigApply) return ConfigApply();
    if (m_o.command == TCommand::ConfigDiff && !m_targets.empty()) return DiffTargets();
    if (m_o.command == TCommand::Commission) return Commission();

    TIdent& ident = m_ident;
    const TLinkOutcome connected = Connect(m_data, ident);
    if (connected.interrupted) return Interrupted();
    if (connected.code != 0) return LinkFail(connected);

    int exit = kExitOk;
    switch (m_o.command) {
        case TCommand::Identify:
            exit = Identify(ident);
            break;
        case TCommand::ConfigRead:
            exit = ConfigRead();
            break;
        case TCommand::ConfigWrite:
            exit = ConfigWrite();
            break;
        case TCommand::ConfigSave:
            exit = ConfigSave();
            break;
        case TCommand::ConfigDiff:
            exit = ConfigDiff();
            break;
        case TCommand::Dout:
            exit = SetOutputs(kCmdWrite, kIndexDigital, static_cast<uint8_t>(m_o.value), 0, "Data zapsána",
                              TJsonObject().Number("outputs", m_o.value));
            break;
        case TCommand::Pwm:
            exit = SetOutputs(kCmdWrite, kIndexPwm, static_cast<uint8_t>(m_o.value % 256),
                              static_cast<uint8_t>(m_o.value / 256), "Hodnota zapsána",
                              TJsonObject().Number("pwm", m_o.value));
            break;
        case TCommand::Din:
            exit = Din();
            break;
        case TCommand::Status:
            exit = Status();
            break;
        case TCommand::Scan:
        case TCommand::ConfigApply:
        case TCommand::Commission:
        case TCommand::Ports:
        case TCommand::Send:
        case TCommand::None:
            break;
    }
    CloseLink(m_data);
    return exit;
}

int TCommandRun::Identify(const TIdent& ident) {
    const TInterfaceKind& kind = kInterfaceKinds[m_data.Kind];
    Result("Modul " + PrintableText(ident.Text()) + ", adresa " + IntToStr(m_data.ModuleAddress) + ", " +
               kind.listText + ", " + IntToStr(m_data.Speed) + " Bd",
           TJsonObject()
               .Number("address", m_data.ModuleAddress)
               .Text("name", ident.name)
               .Text("version", ident.version)
               .Text("ident", ident.Text())
               .Number("kind", m_data.Kind)
               .Text("interface", kind.listText)
               .Number("speed", m_data.Speed));
    return kExitOk;
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

std::string RegisterContext(const char* what, uint8_t reg) {
    return std::string(what) + " registru " + IntToStr(reg) + " (" + RegisterName(reg) + "): ";
}

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

std::optional<int> TCommandRun::ReadAll(TModuleConfig& config) {
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

int TCommandRun::ConfigRead() {
    TModuleConfig config = m_data.ModuleConfig;
    if (const auto exit = ReadAll(config)) return *exit;
    if (m_o.csv) {
        // One line per module, so that the reads of many append into one table.
        std::vector<std::string> header{"address", "ident"};
        std::vector<std::string> row{IntToStr(m_data.ModuleAddress), PrintableText(m_ident.Text())};
        for (const TConfigKey& key : kConfigKeys) {
            header.push_back(key.name);
            row.push_back(key.text(config));
        }
        CsvHeader(header);
        return Emit(CsvLine(row)) ? kExitOk : kExitFailure;
    }
    return Result(ConfigText(config), TJsonObject().Raw("config", ConfigJson(config))) ? kExitOk
                                                                                       : kExitFailure;
}

int TCommandRun::ConfigSave() {
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

int TCommandRun::ConfigDiff() {
    TModuleConfig config = m_data.ModuleConfig;
    if (const auto exit = ReadAll(config)) return *exit;
    std::vector<std::string> json;
    std::vector<std::string> csv;
    std::string text;
    for (const TConfigKey& key : kConfigKeys) {
        if (key.addressGroup && !m_o.includeAddress) continue;
        const std::string module = key.text(config);
        const std::string file = key.text(m_file);
        if (module == file) continue;
        json.push_back(TJsonObject().Text("key", key.name).Text("module", module).Text("file", file).Str());
        csv.push_back(CsvLine({IntToStr(m_data.ModuleAddress), key.name, module, file}));
        text += (text.empty() ? "" : "\n") + std::string(key.name) + ": modul " + module + ", soubor " + file;
    }
    const int exit = json.empty() ? kExitOk : kExitFailure;
    if (m_o.csv) {
        // Equal: the header alone.
        CsvHeader({"address", "key", "module", "file"});
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

TCommandRun::TApplied TCommandRun::ApplyTo(uint8_t address) {
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

int TCommandRun::ConfigApply() {
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
                WriteLine(m_io.out, target.converter + ": " + opened.text);
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

void TCommandRun::StoppedAfterFailure(const std::vector<std::string>& notBegun) {
    if (m_o.json || notBegun.empty()) return;
    WriteLine(m_io.err, "rq905ctl: zastaveno po chybě, nezačaté: " + JoinedTargets(notBegun) +
                            " (--keep-going pokračuje i po chybě)");
}

std::string TCommandRun::ModuleHead(uint8_t address) const {
    return (m_converter.empty() ? "Adresa " : m_converter + ", adresa ") + IntToStr(address) + ": ";
}

TJsonObject TCommandRun::ModuleJson(uint8_t address) const {
    TJsonObject json;
    if (!m_converter.empty()) json.Text("converter", m_converter);
    return json.Number("address", address);
}

int TCommandRun::DiffTargets() {
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
            WriteLine(m_io.out, m_o.json ? json.Raw("error", error).Str()
                                         : (module ? ModuleHead(address) : target.converter + ": ") + text);
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
            for (const TConfigKey& key : kConfigKeys) {
                if (key.addressGroup && !m_o.includeAddress) continue;
                const std::string module = key.text(config);
                const std::string file = key.text(m_file);
                if (module == file) continue;
                json.push_back(
                    TJsonObject().Text("key", key.name).Text("module", module).Text("file", file).Str());
                text += (text.empty() ? "" : "; ") + std::string(key.name) + ": modul " + module +
                        ", soubor " + file;
            }
            different = different || !json.empty();
            Result(ModuleHead(address) + (json.empty() ? "Konfigurace modulu odpovídá souboru." : text),
                   ModuleJson(address)
                       .Bool("equal", json.empty())
                       .Raw("differences", JsonArrayOf(json.data(), json.size())));
        }
        CloseLink(m_data);
    }
    return failed ? kExitDiffFailure : different ? kExitFailure : kExitOk;
}

int TCommandRun::ConfigWrite() {
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
    return kExitOk;
}

int TCommandRun::SetOutputs(uint8_t command, uint8_t index, uint8_t d1, uint8_t d2, const char* done,
                            TJsonObject json) {
    const TReply r = Transact(command, index, d1, d2);
    if (r.interrupted) return Interrupted();
    if (r.status != 0) return Fail(r.status, ResultMessage(m_data.Kind, r.status));
    Result(std::string(done) + " (" + IntToStr(m_o.value) + ")", json);
    return kExitOk;
}

int TCommandRun::Poll(
    std::chrono::milliseconds period,
    const std::function<TReply(std::string& text, TJsonObject& json, std::vector<std::string>& csv)>& poll) {
    std::string lastText;
    bool lastOk = false;
    bool first = true;
    auto next = std::chrono::steady_clock::now();
    for (uint32_t n = 0; !m_o.count || n < *m_o.count; ++n) {
        std::string text;
        TJsonObject reading;
        std::vector<std::string> row;
        const TReply r = poll(text, reading, row);
        // A watched line tells when it was seen: changes are rare, and the
        // time is what a log of them is read for.
        const TLocalTime at = m_o.watch ? LocalTimeNow() : TLocalTime{};
        TJsonObject json;
        if (m_o.watch) json.Text("time", at.iso);
        json.Append(reading);
        // Ctrl-C is how a watch ends; only a run with no reading yet was cut short.
        if (r.interrupted) {
            if (first) return Interrupted();
            break;
        }
        const uint8_t status = r.status;
        const bool ok = status == 0;
        const std::string failure = ok ? "" : ResultMessage(m_data.Kind, status);
        bool written = true;
        if (m_o.csv) {
            // A CSV log has a line per sample, failed ones included, so
            // that it reads as a time series.
            if (m_o.watch) {
                if (!ok) row.assign(m_csvValues, "");
                row.insert(row.begin(), at.iso);
                row.push_back(ok ? "" : IntToStr(status));
                row.push_back(failure);
                written = Emit(CsvLine(row));
            } else if (ok) {
                written = Emit(CsvLine(row));
            } else {
                Fail(status, failure);
            }
        } else if (first || ok != lastOk || (ok ? text : failure) != lastText) {
            // A watch reports the first reading and every change, so that a
            // quiet line stays quiet over a slow remote terminal.
            if (ok) {
                written = Emit(m_o.json ? json.Str() : (m_o.watch ? at.clock + " " : "") + text);
            } else if (m_o.watch && m_o.json) {
                const TJsonObject error = TJsonObject().Number("code", status).Text("text", failure);
                written = Emit(json.Raw("error", error.Str()).Str());
            } else if (m_o.watch) {
                WriteLine(m_io.err, at.clock + " rq905ctl: " + failure);
            } else {
                Fail(status, failure);
            }
        }
        // The file of --output could not take the line (a full disk): the
        // watch ends rather than poll on unrecorded.
        if (!written) return kExitFailure;
        first = false;
        lastOk = ok;
        lastText = ok ? text : failure;
        if (!m_o.watch) break;
        // Missed ticks are not caught up: polling resumes, as the tool's
        // timers do.
        next += period;
        const auto now = std::chrono::steady_clock::now();
        if (next < now) next = now;
        if (InterruptRequested() || !SleepUntil(next)) break;
    }
    return lastOk ? kExitOk : kExitFailure;
}

// A watch's CSV: the time first, the values, then the code and text of a
// failed reading.
std::vector<std::string> CsvColumns(bool watch, std::vector<std::string> values) {
    if (!watch) return values;
    values.insert(values.begin(), "time");
    values.push_back("error_code");
    values.push_back("error_text");
    return values;
}

int TCommandRun::Din() {
    static const std::vector<std::string> kValues{"inputs", "din0", "din1", "din2", "din3",
                                                  "din4",   "din5", "din6", "din7"};
    CsvHeader(CsvColumns(m_o.watch, kValues), kValues.size());
    return Poll(kInputsPeriod, [this](std::string& text, TJsonObject& json, std::vector<std::string>& csv) {
        const TReply r = Transact(kCmdRead, kIndexDigital);
        if (r.status != 0 || r.interrupted) return r;
        const uint8_t v = r.d[1];
        text = "Vstupy " + Hex(v, 2) + ":";
        csv.push_back(IntToStr(v));
        for (unsigned n = 0; n < 8; ++n) {
            text += " DIN" + IntToStr(n) + "=" + IntToStr((v >> n) & 1);
            csv.push_back(IntToStr((v >> n) & 1));
        }
        json.Number("inputs", v)
            .Raw("din", JsonArray({v & 1, (v >> 1) & 1, (v >> 2) & 1, (v >> 3) & 1, (v >> 4) & 1,
                                   (v >> 5) & 1, (v >> 6) & 1, (v >> 7) & 1}));
        return r;
    });
}

int TCommandRun::Status() {
    if (m_o.clear) {
        const TReply r = Transact(kCmdClearStatus, 0);
        if (r.interrupted) return Interrupted();
        if (r.status != 0) return Fail(r.status, ResultMessage(m_data.Kind, r.status));
        Result("Status registr vynulován.", TJsonObject().Bool("cleared", true));
        return kExitOk;
    }
    std::vector<std::string> values{"status", "status_hex"};
    for (const TStatusBit& b : kStatusBits) values.push_back(b.name);
    CsvHeader(CsvColumns(m_o.watch, values), values.size());
    return Poll(kStatusPeriod, [this](std::string& text, TJsonObject& json, std::vector<std::string>& csv) {
        const TReply r = Transact(kCmdReadStatus, 0);
        if (r.status != 0 || r.interrupted) return r;
        const uint32_t value =
            r.d[1] | (uint32_t{r.d[2]} << 8) | (uint32_t{r.d[3]} << 16) | (uint32_t{r.d[4]} << 24);
        std::string names;
        TJsonObject bits;
        csv.push_back(std::to_string(value));
        csv.push_back(Hex(value, 8));
        for (const TStatusBit& b : kStatusBits) {
            const bool set = ((r.d[1] >> b.bit) & 1) != 0;
            bits.Bool(b.name, set);
            csv.push_back(set ? "1" : "0");
            if (set) names += std::string(" ") + b.name;
        }
        text =
            "Status registr " + Hex(value, 8) + ":" + (names.empty() ? std::string(" bez příznaků") : names);
        json.Number("status", value)
            .Raw("bytes", JsonArray({r.d[1], r.d[2], r.d[3], r.d[4]}))
            .Raw("bits", bits.Str());
        return r;
    });
}

int TCommandRun::Send() {
    const TLinkOutcome opened = OpenLink(m_data, kStandardMode);
    if (opened.interrupted) return Interrupted();
    if (opened.code != 0) return LinkFail(opened);
    const bool repeated = m_o.repeat.has_value();
    std::vector<std::string> header{"command", "index", "status", "text", "d0", "d1", "d2", "d3", "d4"};
    if (repeated) header.insert(header.begin(), "time");
    CsvHeader(header);
    bool allOk = true;
    for (uint32_t n = 0; n < m_o.repeat.value_or(1); ++n) {
        // Nothing but the request itself goes out: no identification, so
        // that a module in any state can be reached.
        const TReply r =
            TransactBytes(m_data, m_data.ModuleAddress, m_o.sendCommand, m_o.sendIndex, m_o.sendData);
        if (r.interrupted) return Interrupted();
        const std::string text = ResultMessage(m_data.Kind, r.status);
        allOk = allOk && r.status == 0;
        const TLocalTime at = repeated ? LocalTimeNow() : TLocalTime{};
        std::string line;
        if (m_o.csv) {
            std::vector<std::string> row{IntToStr(m_o.sendCommand), IntToStr(m_o.sendIndex),
                                         IntToStr(r.status), text};
            if (repeated) row.insert(row.begin(), at.iso);
            for (const uint8_t d : r.d) row.push_back(IntToStr(d));
            line = CsvLine(row);
        } else if (m_o.json) {
            TJsonObject json;
            if (repeated) json.Text("time", at.iso);
            line = json.Number("command", m_o.sendCommand)
                       .Number("index", m_o.sendIndex)
                       .Number("status", r.status)
                       .Text("text", text)
                       .Raw("d", JsonArray({r.d[0], r.d[1], r.d[2], r.d[3], r.d[4]}))
                       .Str();
        } else {
            line = (repeated ? at.clock + " " : "") + "Stav " + IntToStr(r.status) + " (" + text + "):";
            for (int i = 0; i < 5; ++i)
                line += " D" + IntToStr(i) + "=" + Hex(r.d[i], 2) + " (" + IntToStr(r.d[i]) + ")";
        }
        if (!Emit(line)) {
            CloseLink(m_data);
            return kExitFailure;
        }
    }
    CloseLink(m_data);
    return allOk ? kExitOk : kExitFailure;
}

int TCommandRun::Scan() {
    // Over UDP the converter answers at any line speed, so there is
    // nothing to try.
    if (!m_o.scanSpeeds.empty() && m_data.Kind == kKindLan) {
        WriteLine(m_io.err,
                  "rq905ctl: scan --speeds: převodník RQ-1318 (lan) přenáší dotaz při každé "
                  "rychlosti linky, zkoušet rychlosti lze jen u sériových rozhraní");
        WriteLine(m_io.err, "Nápověda: rq905ctl scan --help");
        return kExitUsage;
    }
    // Without an explicit time-out the LAN converter derives its wait from
    // the line speed; the file's value is for one module, not for many.
    if (!m_o.connection.udpTimeout) m_data.UdpTimeout = 0;
    std::vector<uint8_t> speeds = m_o.scanSpeeds;
    if (speeds.empty()) speeds.push_back(IndexFromSpeed(m_data.Speed));
    const uint32_t atLeastMs = m_o.scanWaitMs.value_or(0);
    m_data.Speed = SpeedFromIndex(speeds.front());
    const TLinkOutcome opened = OpenLink(m_data, kScanMode, ScanAllowance(speeds.front(), atLeastMs));
    if (opened.interrupted) return Interrupted();
    if (opened.code != 0) return LinkFail(opened);

    const bool bySpeed = !m_o.scanSpeeds.empty();
    CsvHeader({"address", "speed", "name", "version", "ident"});
    std::vector<std::string> found;
    std::vector<std::string> errors;
    std::vector<std::string> collisions;
    bool done = false;
    // Ctrl-C ends a scan early with the modules found so far.
    for (std::size_t s = 0; s < speeds.size() && !done; ++s) {
        if (s > 0) {
            const TLinkOutcome line =
                ConfigureLine(m_data, speeds[s], kScanMode, ScanAllowance(speeds[s], atLeastMs));
            if (line.code != 0) {
                CloseLink(m_data);
                return Fail(line.code, line.text);
            }
        }
        const std::string at = bySpeed ? ", " + IntToStr(m_data.Speed) + " Bd" : "";
        for (unsigned a = m_o.scanFrom; a <= m_o.scanTo && !done; ++a) {
            const auto address = static_cast<uint8_t>(a);
            const TProbe probe = Probe(m_data, address);
            const TIdent& ident = probe.ident;
            const TLinkOutcome& outcome = probe.failure;
            done = probe.result == TProbeResult::Interrupted;
            if (probe.result == TProbeResult::Collision) {
                // Neither module's identity can be trusted, nor silence
                // claimed: the address is told as what it is.
                collisions.push_back(TJsonObject()
                                         .Number("address", address)
                                         .Number("speed", m_data.Speed)
                                         .Text("text", CollisionText(address))
                                         .Str());
                if (!m_o.json)
                    WriteLine(m_io.err, "rq905ctl: " + CollisionText(address) +
                                            (bySpeed ? " (" + IntToStr(m_data.Speed) + " Bd)" : ""));
            } else if (probe.result == TProbeResult::Module) {
                found.push_back(TJsonObject()
                                    .Number("address", address)
                                    .Number("speed", m_data.Speed)
                                    .Text("name", ident.name)
                                    .Text("version", ident.version)
                                    .Text("ident", ident.Text())
                                    .Str());
                if (m_o.csv) {
                    done =
                        !Emit(CsvLine({IntToStr(address), IntToStr(m_data.Speed), PrintableText(ident.name),
                                       PrintableText(ident.version), PrintableText(ident.Text())}));
                } else if (!m_o.json) {
                    done = !Emit("Adresa " + IntToStr(address) + at + ": " + PrintableText(ident.Text()));
                }
                done = done || m_o.scanFirst;
            } else if (probe.result == TProbeResult::Failed) {
                // Silence at an address is the normal case; anything else is
                // worth telling (a damaged reply, a module that stopped).
                errors.push_back(TJsonObject()
                                     .Number("address", address)
                                     .Number("speed", m_data.Speed)
                                     .Number("code", outcome.code)
                                     .Text("text", outcome.text)
                                     .Str());
                if (!m_o.json)
                    WriteLine(m_io.err, "rq905ctl: adresa " + IntToStr(address) + at + ": " + outcome.text);
            }
        }
    }
    CloseLink(m_data);
    if (m_o.json) {
        std::vector<std::string> bauds;
        for (const uint8_t index : speeds) bauds.push_back(IntToStr(SpeedFromIndex(index)));
        Emit(TJsonObject()
                 .Number("from", m_o.scanFrom)
                 .Number("to", m_o.scanTo)
                 .Raw("speeds", JsonArrayOf(bauds.data(), bauds.size()))
                 .Raw("modules", JsonArrayOf(found.data(), found.size()))
                 .Raw("errors", JsonArrayOf(errors.data(), errors.size()))
                 .Raw("collisions", JsonArrayOf(collisions.data(), collisions.size()))
                 .Str());
    } else if (m_o.csv) {
        CsvHeaderOnly();
    } else {
        Emit("Nalezeno modulů: " + IntToStr(static_cast<int64_t>(found.size())));
    }
    return found.empty() || !collisions.empty() || m_outputFailed ? kExitFailure : kExitOk;
}

bool TCommandRun::Await(const std::string& step, uint8_t address, const std::string& text) {
    const bool repeated = m_o.yes && text == m_awaited;
    m_awaited = text;
    if (!repeated) {
        // JSON lets a script follow the steps; a person reads them on stderr.
        if (m_o.json) {
            WriteLine(
                m_io.out,
                TJsonObject()
                    .Raw("waiting",
                         TJsonObject().Text("step", step).Number("address", address).Text("text", text).Str())
                    .Str());
            m_io.out.flush();
        }
        if (!m_o.json || !m_o.yes) WriteLine(m_io.err, text + (m_o.yes ? "" : " [Enter]"));
    }
    if (m_o.yes) return SleepUntil(std::chrono::steady_clock::now() + kCommissionPoll);
    std::string line;
    return std::getline(*m_io.in, line) && !InterruptRequested();
}

TProbe TCommandRun::ProbeAt(uint8_t address, uint8_t speedIndex) {
    TProbe probe;
    const TLinkOutcome line = ConfigureLine(m_data, speedIndex, kScanMode, ScanAllowance(speedIndex, 0));
    if (line.code != 0) {
        probe.result = TProbeResult::Failed;
        probe.failure = line;
        return probe;
    }
    return Probe(m_data, address);
}

int TCommandRun::Commission() {
    const uint8_t from = m_o.fromSpeed;
    const uint8_t target = m_o.commissionSpeed.value_or(IndexFromSpeed(m_data.Speed));
    const std::string fromPlace =
        "na adrese " + IntToStr(m_o.fromAddress) + " (" + IntToStr(SpeedFromIndex(from)) + " Bd)";
    if (!m_o.connection.udpTimeout) m_data.UdpTimeout = 0;
    m_data.Speed = SpeedFromIndex(from);
    const TLinkOutcome opened = OpenLink(m_data, kScanMode, ScanAllowance(from, 0));
    if (opened.interrupted) return Interrupted();
    if (opened.code != 0) return LinkFail(opened);
    auto stopped = [&] {
        if (InterruptRequested()) return Interrupted();
        CloseLink(m_data);
        return Fail("commission: ukončeno na vstupu terminálu");
    };

    for (uint32_t n = 0; n < m_o.commissionCount; ++n) {
        const auto address = static_cast<uint8_t>(*m_o.first + n);
        const std::string newPlace =
            "na adrese " + IntToStr(address) + " (" + IntToStr(SpeedFromIndex(target)) + " Bd)";
        const std::string which = "Modul " + IntToStr(n + 1) + "/" + IntToStr(m_o.commissionCount);
        m_awaited.clear();
        if (!m_o.yes && !Await("connect", m_o.fromAddress,
                               which + ": připojte nový modul, dostane adresu " + IntToStr(address) + ".")) {
            return stopped();
        }
        // The module, alone at the address new modules come with.
        TProbe probe;
        for (;;) {
            probe = ProbeAt(m_o.fromAddress, from);
            if (probe.result == TProbeResult::Module) break;
            if (probe.result == TProbeResult::Interrupted) return Interrupted();
            const bool collision = probe.result == TProbeResult::Collision;
            const std::string text =
                collision ? CollisionText(m_o.fromAddress) + " Připojený smí být jen jeden nový modul."
                : probe.result == TProbeResult::Failed
                    ? which + ": " + fromPlace + ": " + probe.failure.text
                    : which + ": " + fromPlace + " žádný modul neodpovídá.";
            if (!Await(collision ? "collision" : "connect", m_o.fromAddress, text)) return stopped();
        }
        // The address must be free, or the module would share it.
        if (address != m_o.fromAddress || target != from) {
            const TProbe there = ProbeAt(address, target);
            if (there.result == TProbeResult::Interrupted) return Interrupted();
            if (there.result != TProbeResult::Silent) {
                CloseLink(m_data);
                return Fail(which + ": " + newPlace + " už odpovídá jiný modul" +
                            (there.result == TProbeResult::Module
                                 ? " (" + PrintableText(there.ident.Text()) + ")"
                                 : std::string()) +
                            ", adresu nelze přidělit");
            }
        }
        const TLinkOutcome line = ConfigureLine(m_data, from, kStandardMode, 0);
        if (line.code != 0) {
            CloseLink(m_data);
            return Fail(line.code, line.text);
        }
        m_data.ModuleAddress = m_o.fromAddress;
        TModuleConfig config = m_data.ModuleConfig;
        config.BusAddress = address;
        config.SpeedIndex = target;
        // Address and speed are written together and verified, whatever a
        // signal asks meanwhile.
        TSequenceHooks hooks = Hooks();
        hooks.proceed = {};
        const TSequenceOutcome written = WriteConfig(m_data, kAddressSpeedRegisters, config, hooks);
        if (written.result != TSequenceResult::Done) {
            const bool mismatch = written.result == TSequenceResult::Mismatch;
            CloseLink(m_data);
            return Fail(
                mismatch ? kWriteMismatch : written.status,
                mismatch ? kMismatchText : ResultMessage(m_data.Kind, written.status),
                [&](TJsonObject& e) { e.Number("register", written.reg).Bool("mismatch", mismatch); },
                which + ": " + RegisterContext("Zápis", written.reg));
        }
        // A module takes its new address and speed when it starts again.
        m_awaited.clear();
        if (!m_o.yes && !Await("restart", address,
                               which + ": vypněte a zapněte napájení modulu (nová adresa a rychlost platí "
                                       "od startu).")) {
            return stopped();
        }
        for (;;) {
            probe = ProbeAt(address, target);
            if (probe.result == TProbeResult::Module) break;
            if (probe.result == TProbeResult::Interrupted) return Interrupted();
            const bool collision = probe.result == TProbeResult::Collision;
            if (!Await(collision ? "collision" : "restart", address,
                       collision ? CollisionText(address)
                                 : which + ": " + newPlace +
                                       " modul zatím neodpovídá; vypněte a zapněte "
                                       "jeho napájení.")) {
                return stopped();
            }
        }
        Result(which + ": " + PrintableText(probe.ident.Text()) + ", adresa " + IntToStr(m_o.fromAddress) +
                   " (" + IntToStr(SpeedFromIndex(from)) + " Bd) -> " + IntToStr(address) + " (" +
                   IntToStr(SpeedFromIndex(target)) + " Bd), ověřeno.",
               TJsonObject()
                   .Number("module", n + 1)
                   .Text("ident", probe.ident.Text())
                   .Number("from_address", m_o.fromAddress)
                   .Number("from_speed", SpeedFromIndex(from))
                   .Number("address", address)
                   .Number("speed", SpeedFromIndex(target)));
        m_io.out.flush();
    }
    CloseLink(m_data);
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

int RunCtl(const std::vector<std::string>& args, const std::string& defaultSettingsPath, TCtlIo& io) {
    auto usage = [&](const std::string& reason) {
        WriteLine(io.err, "rq905ctl: " + reason);
        WriteLine(io.err, "Nápověda: rq905ctl --help");
        return kExitUsage;
    };
    const TParseResult parsed = ParseArgs(args);
    if (!parsed.ok) return usage(parsed.error);
    if (parsed.options.version) {
        WriteLine(io.out, std::string("rq905ctl ") + RQ905_VERSION);
        return kExitOk;
    }
    if (parsed.options.help) {
        io.out << Cp1250ToUtf8(HelpText(parsed.options.command));
        io.out.flush();
        return kExitOk;
    }
    // Only the file beside the program may be absent: one named on purpose
    // that cannot be read would quietly talk to the default port instead.
    std::string reason;
    if (parsed.options.settingsPath && !SettingsFileReadable(*parsed.options.settingsPath, reason)) {
        return usage("soubor nastavení " + Utf8ToCp1250(*parsed.options.settingsPath) + ": " + reason);
    }
    // Commission asks a person at a terminal; a script says --yes.
    if (parsed.options.command == TCommand::Commission && !parsed.options.yes && io.in == nullptr)
        return usage("commission bez terminálu na vstupu potřebuje --yes");
    // A configuration file is checked whole before the module is touched.
    const TCtlOptions& o = parsed.options;
    const std::string file = "soubor " + Utf8ToCp1250(o.file) + ": ";
    TModuleConfig fileConfig;
    if (o.command == TCommand::ConfigApply || o.command == TCommand::ConfigDiff) {
        std::string text;
        if (!ReadSmallFile(o.file, text, reason) || !ParseConfigFile(text, fileConfig, reason))
            return usage(file + reason);
    }
    // So is a list of converters, from a file or standard input.
    std::vector<TTarget> targets;
    if (o.targets) {
        std::string text;
        const bool read =
            *o.targets == "-" ? ReadStream(std::cin, text, reason) : ReadSmallFile(*o.targets, text, reason);
        if (!read || !ParseTargets(text, targets, reason))
            return usage("seznam převodníků " + Utf8ToCp1250(*o.targets) + ": " + reason);
    }
    if (o.command == TCommand::ConfigSave && !WritableTarget(o.file, reason)) return usage(file + reason);
    // A file that cannot take the results is known before the module is asked.
    TOutputFile output;
    if (o.output && !output.Open(*o.output, reason))
        return usage("soubor " + Utf8ToCp1250(*o.output) + ": " + reason);
    TCtlIo quiet = io;
    if (parsed.options.json) quiet.progress = false;
    TCommandRun run(parsed.options, quiet, fileConfig, o.output ? &output : nullptr);
    run.SetTargets(std::move(targets));
    return run.Run(parsed.options.settingsPath.value_or(defaultSettingsPath));
}
