// ISA card PCI-318: Init's parameter is the card's base I/O address.
#include "FaceExports.h"

RQ905_DRIVER_COMMON_ENTRIES(TPCI318);

extern "C" uint32_t RQ905_CALL TPCI318_Init(uint32_t* handle, uint32_t baseAddress) {
    return drv::face::InitSerial({kLibraryName, "base", true, drv::IsaCardDevice}, handle, baseAddress);
}
static_assert(std::is_same_v<decltype(&TPCI318_Init), T318InitParam>);
