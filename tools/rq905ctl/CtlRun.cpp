#include "CtlRun.h"

#include <chrono>
#include <thread>

#include "CtlCommands.h"
#include "CtlInterrupt.h"
#include "CtlPorts.h"
#include "core/Cp1250.h"
#include "core/IntText.h"

namespace {

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

}  // namespace

std::string JoinedTargets(const std::vector<std::string>& lines) {
    std::string text;
    // Converter names come from the user's list: shown printable.
    for (const std::string& line : lines) text += (text.empty() ? "" : "; ") + PrintableText(line);
    return text;
}

std::string Hex(uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

std::string RegisterList(const std::vector<uint8_t>& regs, const char* separator) {
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

std::string RegisterContext(const char* what, uint8_t reg) {
    return std::string(what) + " registru " + IntToStr(reg) + " (" + RegisterName(reg) + "): ";
}

TCtlRun::TCtlRun(const TCtlRunSetup& setup)
    : m_o(setup.options),
      m_io(setup.io),
      m_file(setup.fileConfig),
      m_output(setup.output),
      m_targets(setup.targets),
      m_failureExit(setup.options.command == TCommand::ConfigDiff ? kExitDiffFailure : kExitFailure) {}

int TCtlRun::Run(const std::string& settingsPath) {
    PrepareData(m_data, settingsPath, m_o.connection);
    // A read cut short loses nothing; a write is let finish.
    BeginTransfers(ReadsOnly(m_o));
    if (m_o.trace) SetTraceFile(*m_o.trace);
    if (m_o.stats) m_recorder = std::make_unique<TStatsRecorder>(m_stats, m_o.trace);
    int exit = Command();
    // A signal during the last transaction, which was let finish, still
    // ends the run as interrupted.
    if (InterruptRequested() && !m_interruptTold && !EndsBySignal()) exit = Interrupted();
    // Results that could not be written are a failure, whatever the module
    // did (config diff keeps 1 for "different").
    const bool diff = m_failureExit == kExitDiffFailure;
    if (m_outputFailed && (exit == kExitOk || (diff && exit == kExitFailure))) exit = m_failureExit;
    CloseLink(m_data);
    if (m_recorder) {
        Summary();
    }
    return exit;
}

std::optional<int> TCtlRun::ConnectModule() {
    const TLinkOutcome connected = Connect(m_data, m_ident);
    if (connected.interrupted) return Interrupted();
    if (connected.code != 0) return LinkFail(connected);
    return std::nullopt;
}

int TCtlRun::Fail(uint32_t code, const std::string& text, const std::function<void(TJsonObject&)>& more,
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

int TCtlRun::Fail(const std::string& text) {
    if (m_o.json) {
        WriteLine(m_io.out, TJsonObject().Raw("error", TJsonObject().Text("text", text).Str()).Str());
    } else {
        WriteLine(m_io.err, "rq905ctl: " + text);
    }
    return m_failureExit;
}

int TCtlRun::LinkFail(const TLinkOutcome& outcome) {
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

bool TCtlRun::Result(const std::string& text, const TJsonObject& json) {
    return Emit(m_o.json ? json.Str() : text);
}

bool TCtlRun::Emit(const std::string& line) {
    if (m_outputFailed) return false;
    if (m_output == nullptr) {
        if (!m_csvHeader.empty() && !m_headerDone) WriteLine(m_io.out, m_csvHeader);
        m_headerDone = true;
        WriteLine(m_io.out, line);
        // Told once the run ends, as any failed standard output is.
        m_outputFailed = !m_io.out;
        return !m_outputFailed;
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

bool TCtlRun::CsvHeader(const std::vector<std::string>& fields, std::size_t values) {
    if (!m_o.csv) return true;
    m_csvHeader = CsvLine(fields);
    m_csvValues = values;
    if (m_output == nullptr || m_output->Empty()) return true;
    // Lines of other columns under this header would make one table of two.
    // (A device or a pipe has no first line to go by.)
    const std::string found = m_output->FirstLine();
    if (found.empty() || found == Cp1250ToUtf8(m_csvHeader)) return true;
    WriteLine(m_io.err, "rq905ctl: soubor " + Utf8ToCp1250(m_o.output.value_or("")) + " má záhlaví \"" +
                            PrintableText(Utf8ToCp1250(found)) + "\", tento příkaz píše sloupce \"" +
                            m_csvHeader + "\"; do jednoho souboru je nelze smíchat");
    return false;
}

bool TCtlRun::CsvHeaderOnly() {
    if (m_csvHeader.empty()) return true;
    if (m_output == nullptr) {
        if (!m_headerDone) WriteLine(m_io.out, m_csvHeader);
        m_headerDone = true;
        m_outputFailed = !m_io.out;
        return !m_outputFailed;
    }
    if (!m_output->Empty()) return true;
    std::string reason;
    if (m_output->Append(Cp1250ToUtf8(m_csvHeader) + "\n", reason)) return true;
    m_outputFailed = true;
    WriteLine(m_io.err,
              "rq905ctl: zápis do souboru " + Utf8ToCp1250(m_o.output.value_or("")) + " selhal: " + reason);
    return false;
}

void TCtlRun::Summary() {
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

int TCtlRun::Interrupted(const std::vector<uint8_t>* written, const std::vector<uint8_t>* remaining,
                         const std::vector<std::string>* remainingTargets) {
    CloseLink(m_data);
    m_interruptTold = true;
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
        std::string ignored;
        InterruptedDetail(ignored, json);
        WriteLine(m_io.out, TJsonObject().Raw("interrupted", json.Str()).Str());
    } else {
        std::string text = "rq905ctl: přerušeno (" + std::string(InterruptName()) + ")";
        if (written != nullptr) text += ", " + WrittenText(*written);
        if (remaining != nullptr && !remaining->empty())
            text += ", nezačaté adresy " + AddressListText(*remaining);
        if (remainingTargets != nullptr && !remainingTargets->empty())
            text += ", nezačaté: " + JoinedTargets(*remainingTargets);
        TJsonObject ignored;
        InterruptedDetail(text, ignored);
        WriteLine(m_io.err, text);
    }
    return InterruptExitStatus();
}

TSequenceHooks TCtlRun::Hooks() {
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
