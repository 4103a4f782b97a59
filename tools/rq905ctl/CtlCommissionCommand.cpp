// rq905ctl commission: new modules, one after another, from the address
// and speed they come with to an address and speed of their own, with the
// technician switching each on and off.
#include <chrono>
#include <iostream>
#include <optional>
#include <string>

#include "CtlCommands.h"
#include "CtlInterrupt.h"
#include "CtlRun.h"
#include "core/Cp1250.h"
#include "core/IntText.h"

namespace {

// How often commission --yes looks for the module it waits for.
constexpr auto kCommissionPoll = std::chrono::milliseconds(300);

class TCommissionRun final : public TCtlRun {
  public:
    using TCtlRun::TCtlRun;

  private:
    int Command() override;
    // One step waits for the technician: at a terminal for Enter after the
    // text, with --yes half a second before trying again (the text once,
    // until it changes). False: stopped.
    bool Await(const std::string& step, uint8_t address, const std::string& text);
    // The probe at an address and speed, in the scan mode.
    TProbe ProbeAt(uint8_t address, uint8_t speedIndex);

    void InterruptedDetail(std::string& text, TJsonObject& json) const override;

    std::string m_awaited;  // the text --yes showed last
    // A module whose new address and speed are written but not yet seen
    // in use: what a stop leaves to the technician.
    struct TStored {
        uint32_t module;  // from 1
        uint8_t address;
        uint8_t speedIndex;
    };
    std::optional<TStored> m_stored;
};

void TCommissionRun::InterruptedDetail(std::string& text, TJsonObject& json) const {
    if (!m_stored) return;
    const uint32_t baud = SpeedFromIndex(m_stored->speedIndex);
    json.Raw("stored", TJsonObject()
                           .Number("module", m_stored->module)
                           .Number("address", m_stored->address)
                           .Number("speed", baud)
                           .Str());
    text += ", modul " + IntToStr(m_stored->module) + "/" + IntToStr(m_o.commissionCount) +
            " má uloženu adresu " + IntToStr(m_stored->address) + " (" + IntToStr(baud) +
            " Bd), platnou po vypnutí a zapnutí jeho napájení";
    if (m_stored->module < m_o.commissionCount) {
        text += "; zbylé moduly: commission --first " + IntToStr(m_stored->address + 1) + " --count " +
                IntToStr(m_o.commissionCount - m_stored->module);
    }
}

bool TCommissionRun::Await(const std::string& step, uint8_t address, const std::string& text) {
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

TProbe TCommissionRun::ProbeAt(uint8_t address, uint8_t speedIndex) {
    TProbe probe;
    const TLinkOutcome line = ConfigureLine(m_data, speedIndex, kScanMode, ScanAllowance(speedIndex, 0));
    if (line.code != 0) {
        probe.result = TProbeResult::Failed;
        probe.failure.code = line.code;
        probe.failure.text = line.text;
        return probe;
    }
    return Probe(m_data, address);
}

int TCommissionRun::Command() {
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
            // The driver gives its text only while the link is open.
            const std::string text = mismatch ? kMismatchText : ResultMessage(m_data.Kind, written.status);
            CloseLink(m_data);
            return Fail(
                mismatch ? kWriteMismatch : written.status, text,
                [&](TJsonObject& e) { e.Number("register", written.reg).Bool("mismatch", mismatch); },
                which + ": " + RegisterContext("Zápis", written.reg));
        }
        m_stored = TStored{n + 1, address, target};
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
        m_stored.reset();
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

int RunCommissionCommand(const TCtlRunSetup& setup, const std::string& settingsPath) {
    return TCommissionRun(setup).Run(settingsPath);
}
