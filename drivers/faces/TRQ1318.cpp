// LAN converter RQ-1318, reached by UDP datagrams.
#include "FaceExports.h"

RQ905_DRIVER_COMMON_ENTRIES(TRQ1318);

extern "C" uint32_t RQ905_CALL TRQ1318_Init(uint32_t* handle, const uintptr_t* params) {
    return drv::face::InitUdp(kLibraryName, handle, params);
}
static_assert(std::is_same_v<decltype(&TRQ1318_Init), T318InitBlock>);
