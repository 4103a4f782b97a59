// rq905ctl's commands on the module's inputs and outputs: identify, dout
// and pwm once, din and status once or as a watch.
#include <chrono>
#include <functional>

#include "CtlCommands.h"
#include "CtlInterrupt.h"
#include "CtlRun.h"
#include "core/Cp1250.h"
#include "core/IntText.h"
#include "core/LocalTime.h"

namespace {

constexpr auto kInputsPeriod = std::chrono::milliseconds(100);
constexpr auto kStatusPeriod = std::chrono::milliseconds(500);

constexpr uint8_t kCmdRead = 0;
constexpr uint8_t kCmdWrite = 1;
constexpr uint8_t kIndexDigital = 64;
constexpr uint8_t kIndexPwm = 0;
constexpr uint8_t kCmdReadStatus = 100;
constexpr uint8_t kCmdClearStatus = 101;

// A watch's CSV: the time first, the values, then the code and text of a
// failed reading.
std::vector<std::string> CsvColumns(bool watch, std::vector<std::string> values) {
    if (!watch) return values;
    values.insert(values.begin(), "time");
    values.push_back("error_code");
    values.push_back("error_text");
    return values;
}

class TWatchRun final : public TCtlRun {
  public:
    using TCtlRun::TCtlRun;

  private:
    int Command() override;
    // Ctrl-C is how a watch ends.
    bool EndsBySignal() const override { return m_o.watch; }
    int Identify();
    int SetOutputs(uint8_t command, uint8_t index, uint8_t d1, uint8_t d2, const char* done,
                   TJsonObject json);
    int Din();
    int Status();
    // Polls once, or at period until Ctrl-C or --count. poll returns the
    // reply of its transaction and sets the text, the JSON members and the
    // CSV fields of its reading.
    int Poll(std::chrono::milliseconds period,
             const std::function<TReply(std::string& text, TJsonObject& json, std::vector<std::string>& csv)>&
                 poll);
};

int TWatchRun::Command() {
    if (const auto exit = ConnectModule()) return *exit;
    int exit = kExitOk;
    switch (m_o.command) {
        case TCommand::Identify:
            exit = Identify();
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
        default:
            break;
    }
    CloseLink(m_data);
    return exit;
}

int TWatchRun::Identify() {
    const TIdent& ident = m_ident;
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

int TWatchRun::SetOutputs(uint8_t command, uint8_t index, uint8_t d1, uint8_t d2, const char* done,
                          TJsonObject json) {
    const TReply r = Transact(command, index, d1, d2);
    if (r.interrupted) return Interrupted();
    if (r.status != 0) return Fail(r.status, ResultMessage(m_data.Kind, r.status));
    Result(std::string(done) + " (" + IntToStr(m_o.value) + ")", json);
    return kExitOk;
}

int TWatchRun::Poll(
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
                row.push_back(CsvText(failure));
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

int TWatchRun::Din() {
    static const std::vector<std::string> kValues{"inputs", "din0", "din1", "din2", "din3",
                                                  "din4",   "din5", "din6", "din7"};
    if (!CsvHeader(CsvColumns(m_o.watch, kValues), kValues.size())) return kExitUsage;
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

int TWatchRun::Status() {
    if (m_o.clear) {
        const TReply r = Transact(kCmdClearStatus, 0);
        if (r.interrupted) return Interrupted();
        if (r.status != 0) return Fail(r.status, ResultMessage(m_data.Kind, r.status));
        Result("Status registr vynulován.", TJsonObject().Bool("cleared", true));
        return kExitOk;
    }
    std::vector<std::string> values{"status", "status_hex"};
    for (const TStatusBit& b : kStatusBits) values.push_back(b.name);
    if (!CsvHeader(CsvColumns(m_o.watch, values), values.size())) return kExitUsage;
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

}  // namespace

int RunWatchCommand(const TCtlRunSetup& setup, const std::string& settingsPath) {
    return TWatchRun(setup).Run(settingsPath);
}
