// A record connected over the real UDP driver to a simulator on loopback,
// as the connection dialog leaves it; shared by the GUI tests and the
// benchmarks of the windows, and free of either's harness.
#pragma once

#include <cstdint>

#include "core/Dekl.h"
#include "link/Txxx318.h"

// False when the link did not open or the line refused its speed.
inline bool ConnectOverUdp(TData& rec, uint16_t port, uint8_t address, uint8_t speedIndex) {
    rec.Kind = kKindLan;
    rec.IpAddress = "127.0.0.1";
    rec.UdpPort = port;
    rec.UdpTimeout = 200;
    rec.InitParams.fill(0);
    rec.InitParams[0] = reinterpret_cast<uintptr_t>(rec.IpAddress.c_str());
    rec.InitParams[1] = rec.UdpPort;
    rec.InitParams[2] = rec.UdpTimeout;
    uint32_t handle = 0;
    if (OpenInterface(kKindLan, handle, rec.InitParams) != 0) return false;
    rec.Handle = handle;
    rec.Connected = 1;
    rec.ModuleAddress = address;
    return InterfaceSetConfig(kKindLan, handle, SpeedFromIndex(speedIndex), SpeedConfigValue(speedIndex),
                              2) == 0;
}
