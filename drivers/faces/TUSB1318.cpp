// USB converter USB-1318: one converter per machine, found without parameters.
#include "FaceExports.h"

RQ905_DRIVER_COMMON_ENTRIES(TUSB1318);

extern "C" uint32_t RQ905_CALL TUSB1318_Init(uint32_t* handle) {
    return drv::face::InitSerial(
        {kLibraryName, nullptr, false, [](uint32_t) { return drv::UsbConverterDevice(); }}, handle, 0);
}
static_assert(std::is_same_v<decltype(&TUSB1318_Init), T318InitPlain>);
