// Windows names its serial ports COM1 ... itself and shows them in the
// Device Manager; the Linux device tree has nothing to show here.
#include "CtlCommands.h"
#include "CtlPorts.h"

int ListPorts(const TCtlOptions&, const TData&, const TPortRoots&, TCtlIo& io) {
    WriteLine(io.err,
              "rq905ctl: ports vypisuje sériová zařízení Linuxu; ve Windows porty COM ukáže "
              "Správce zařízení");
    return kExitFailure;
}

std::optional<TDeviceProblem> DeviceProblem(const TData&) { return std::nullopt; }
