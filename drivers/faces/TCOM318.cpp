// Standard COM port: Init's parameter is the port number, 1 for COM1.
#include "FaceExports.h"

RQ905_DRIVER_COMMON_ENTRIES(TCOM318);

extern "C" uint32_t RQ905_CALL TCOM318_Init(uint32_t* handle, uint32_t port) {
    return drv::face::InitSerial({kLibraryName, "port", false, drv::ComPortDevice}, handle, port);
}
static_assert(std::is_same_v<decltype(&TCOM318_Init), T318InitParam>);
