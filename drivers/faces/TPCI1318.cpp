// PCI card PCI-1318: one card per machine, found without parameters.
#include "FaceExports.h"

RQ905_DRIVER_COMMON_ENTRIES(TPCI1318);

extern "C" uint32_t RQ905_CALL TPCI1318_Init(uint32_t* handle) {
    return drv::face::InitSerial(
        {kLibraryName, nullptr, false, [](uint32_t) { return drv::PciCardDevice(); }}, handle, 0);
}
static_assert(std::is_same_v<decltype(&TPCI1318_Init), T318InitPlain>);
