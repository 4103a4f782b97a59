// rq905ctl scan: the modules of a range of addresses, at one speed or at
// several, in the drivers' scan mode.
#include "CtlCommands.h"
#include "CtlInterrupt.h"
#include "CtlRun.h"
#include "core/Cp1250.h"
#include "core/IntText.h"

namespace {

class TScanRun final : public TCtlRun {
  public:
    using TCtlRun::TCtlRun;

  private:
    int Command() override;
    // Ctrl-C ends a scan early with the modules found so far.
    bool EndsBySignal() const override { return true; }
};

int TScanRun::Command() {
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
    if (!CsvHeader({"address", "speed", "name", "version", "ident"})) return kExitUsage;
    std::vector<std::string> found;
    std::vector<std::string> errors;
    std::vector<std::string> collisions;
    busscan::TScanObserver observer;
    observer.address = [&](const busscan::TScanAddress& a, const busscan::TScanProgress&) {
        const std::string at = bySpeed ? ", " + IntToStr(a.speed) + " Bd" : "";
        if (a.result == TProbeResult::Collision) {
            // Neither module's identity can be trusted, nor silence
            // claimed: the address is told as what it is.
            collisions.push_back(TJsonObject()
                                     .Number("address", a.address)
                                     .Number("speed", a.speed)
                                     .Text("text", a.text)
                                     .Str());
            if (!m_o.json)
                WriteLine(m_io.err,
                          "rq905ctl: " + a.text + (bySpeed ? " (" + IntToStr(a.speed) + " Bd)" : ""));
        } else if (a.result == TProbeResult::Module) {
            found.push_back(TJsonObject()
                                .Number("address", a.address)
                                .Number("speed", a.speed)
                                .Text("name", a.ident.name)
                                .Text("version", a.ident.version)
                                .Text("ident", a.ident.Text())
                                .Str());
            if (m_o.csv) {
                return Emit(CsvLine(
                    {IntToStr(a.address), IntToStr(a.speed), CsvText(PrintableText(a.ident.name)),
                     CsvText(PrintableText(a.ident.version)), CsvText(PrintableText(a.ident.Text()))}));
            }
            if (!m_o.json)
                return Emit("Adresa " + IntToStr(a.address) + at + ": " + PrintableText(a.ident.Text()));
        } else if (a.result == TProbeResult::Failed) {
            // Silence at an address is the normal case; anything else is
            // worth telling (a damaged reply, a module that stopped).
            errors.push_back(TJsonObject()
                                 .Number("address", a.address)
                                 .Number("speed", a.speed)
                                 .Number("code", a.code)
                                 .Text("text", a.text)
                                 .Str());
            if (!m_o.json)
                WriteLine(m_io.err, "rq905ctl: adresa " + IntToStr(a.address) + at + ": " + a.text);
        }
        return true;
    };
    busscan::TScanSettings settings;
    settings.from = m_o.scanFrom;
    settings.to = m_o.scanTo;
    settings.speeds = speeds;
    settings.atLeastMs = atLeastMs;
    settings.stopAtFirst = m_o.scanFirst;
    // Ctrl-C ends a scan early with the modules found so far.
    busscan::TBusScanner scanner(InterruptRequested);
    const busscan::TScanOutcome outcome =
        scanner.Run(m_data.Kind, m_data.Handle, settings, speeds.front(), observer);
    if (outcome.end == busscan::TScanEnd::LineFailed) {
        const TLinkOutcome line = LineFailure(m_data, outcome.code);
        CloseLink(m_data);
        return Fail(line.code, line.text);
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

}  // namespace

int RunScanCommand(const TCtlRunSetup& setup, const std::string& settingsPath) {
    return TScanRun(setup).Run(settingsPath);
}
