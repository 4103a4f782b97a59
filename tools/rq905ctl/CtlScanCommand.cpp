// rq905ctl scan: the modules of a range of addresses, at one speed or at
// several, in the drivers' scan mode.
#include "CtlCommands.h"
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

}  // namespace

int RunScanCommand(const TCtlRunSetup& setup, const std::string& settingsPath) {
    return TScanRun(setup).Run(settingsPath);
}
