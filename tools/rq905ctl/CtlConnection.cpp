#include "CtlConnection.h"

#include <algorithm>
#include <cstdlib>

#include "CtlInterrupt.h"
#include "core/IntText.h"

void PrepareData(TData& data, const std::string& settingsPath, const TConnectionOverrides& o) {
    SetDefaults(&data);
    LoadSettings(&data, settingsPath);
    if (o.kind) data.Kind = *o.kind;
    if (o.comPort) data.ComPort = *o.comPort;
    if (o.isaBase) data.IsaBase = *o.isaBase;
    if (o.ipAddress) data.IpAddress = *o.ipAddress;
    if (o.udpPort) data.UdpPort = *o.udpPort;
    if (o.udpTimeout) data.UdpTimeout = *o.udpTimeout;
    if (o.address) data.ModuleAddress = *o.address;
    if (o.speed) data.Speed = *o.speed;
}

namespace {

constexpr const char* kInitFailedText = "Chyba inicializace připojení - ";

TLinkOutcome Interrupted() { return {0, {}, true}; }

}  // namespace

TReply Transact(const TData& data, uint8_t address, uint8_t command, uint8_t index, uint8_t d1, uint8_t d2) {
    const uint8_t d[5] = {0, d1, d2, 0, 0};
    return TransactBytes(data, address, command, index, d);
}

TReply TransactBytes(const TData& data, uint8_t address, uint8_t command, uint8_t index,
                     const uint8_t (&d)[5]) {
    TReply r;
    if (InterruptRequested()) {
        r.interrupted = true;
        return r;
    }
    for (int i = 0; i < 5; ++i) r.d[i] = d[i];
    TCellBlock reply{};
    ModuleTransaction(data.Kind, data.Handle, address, command, index, r.d[0], r.d[1], r.d[2], r.d[3], r.d[4],
                      r.status, reply);
    // A signal during the transaction may have cut it short: its failure is
    // the signal's, not the module's.
    if (r.status != 0 && InterruptRequested()) r.interrupted = true;
    return r;
}

TLinkOutcome LineFailure(const TData& data, uint32_t code) {
    return {code, kInitFailedText + ResultMessage(data.Kind, code)};
}

TLinkOutcome ConfigureLine(TData& data, uint8_t speedIndex, uint32_t mode, uint32_t value) {
    const uint32_t result = InterfaceSetConfig(data.Kind, data.Handle, SpeedFromIndex(speedIndex),
                                               value != 0 ? value : SpeedConfigValue(speedIndex), mode);
    if (result != 0) return LineFailure(data, result);
    data.Speed = SpeedFromIndex(speedIndex);
    return {};
}

TLinkOutcome OpenLink(TData& data, uint32_t mode, uint32_t value) {
    if (InterruptRequested()) return Interrupted();
    data.InitParams.fill(0);
    switch (data.Kind) {
        case kKindCom:
            data.InitParams[0] = data.ComPort;
            break;
        case kKindIsa:
            data.InitParams[0] = data.IsaBase;
            break;
        case kKindPci:
        case kKindUsb:
            break;
        case kKindLan:
            // The settings file may hold what the dialog would refuse.
            if (data.IpAddress.empty()) return {2, "Neplatná IP adresa"};
            if (data.UdpPort > 65535) return {2, "Neplatný UDP port"};
            if (data.UdpTimeout > 65535) return {2, "Neplatný UDP timeout"};
            data.InitParams[0] = reinterpret_cast<uintptr_t>(data.IpAddress.c_str());
            data.InitParams[1] = data.UdpPort;
            data.InitParams[2] = data.UdpTimeout;
            break;
        default:
            return {2, "Neznámý typ rozhraní"};
    }

    uint32_t handle = 0;
    uint32_t result = OpenInterface(data.Kind, handle, data.InitParams);
    if (result != 0) {
        data.Connected = 0;
        // A signal meanwhile: the failure may be its doing (a call given up).
        if (InterruptRequested()) return Interrupted();
        return {result, kInitFailedText + ResultMessage(data.Kind, result)};
    }
    data.Connected = 1;
    data.Handle = handle;
    // The text comes from the library, so it is taken before release.
    const TLinkOutcome configured = ConfigureLine(data, IndexFromSpeed(data.Speed), mode, value);
    if (configured.code != 0) CloseLink(data);
    if (configured.code != 0 && InterruptRequested()) return Interrupted();
    return configured;
}

TLinkOutcome Identify(const TData& data, uint8_t address, TIdent& ident, uint8_t* firstStatus) {
    const busscan::TIdentOutcome outcome =
        busscan::Identify(data.Kind, data.Handle, address, ident, InterruptRequested);
    if (firstStatus != nullptr) *firstStatus = outcome.firstStatus;
    if (outcome.interrupted) return Interrupted();
    return {outcome.code, outcome.text};
}

TProbe Probe(const TData& data, uint8_t address) {
    return busscan::Probe(data.Kind, data.Handle, address, InterruptRequested);
}

TLinkOutcome Connect(TData& data, TIdent& ident) {
    TLinkOutcome outcome = OpenLink(data, kStandardMode);
    if (outcome.code != 0 || outcome.interrupted) return outcome;
    outcome = Identify(data, data.ModuleAddress, ident);
    if (outcome.code != 0 || outcome.interrupted) {
        CloseLink(data);
        return outcome;
    }
    data.ModuleIdent = ident.Text();
    data.StatusText = "V pořádku";
    return {};
}

void CloseLink(TData& data) {
    if (!IsConnected(data)) return;
    uint32_t handle = data.Handle;
    CloseInterface(data.Kind, handle);
    data.Handle = handle;
    data.Connected = 0;
}
