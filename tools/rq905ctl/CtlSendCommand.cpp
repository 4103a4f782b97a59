// rq905ctl send: one request of any command and index, as it is, once or
// repeated.
#include "CtlCommands.h"
#include "CtlRun.h"
#include "core/IntText.h"
#include "core/LocalTime.h"

namespace {

class TSendRun final : public TCtlRun {
  public:
    using TCtlRun::TCtlRun;

  private:
    int Command() override;
};

int TSendRun::Command() {
    const TLinkOutcome opened = OpenLink(m_data, kStandardMode);
    if (opened.interrupted) return Interrupted();
    if (opened.code != 0) return LinkFail(opened);
    const bool repeated = m_o.repeat.has_value();
    std::vector<std::string> header{"command", "index", "status", "text", "d0", "d1", "d2", "d3", "d4"};
    if (repeated) header.insert(header.begin(), "time");
    if (!CsvHeader(header)) return kExitUsage;
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
                                         IntToStr(r.status), CsvText(text)};
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

}  // namespace

int RunSendCommand(const TCtlRunSetup& setup, const std::string& settingsPath) {
    return TSendRun(setup).Run(settingsPath);
}
