// The entry points that are the same in every driver library, defined
// under the library's prefix, and the library's name for its trace; each
// library adds its own Init.
#pragma once

#include <type_traits>

#include "Driver318Abi.h"
#include "Face.h"

#define RQ905_DRIVER_COMMON_ENTRIES(P)                                                                 \
    namespace {                                                                                        \
    constexpr char kLibraryName[] = #P;                                                                \
    }                                                                                                  \
    extern "C" uint32_t RQ905_CALL P##_Version(void) { return drv::face::Version(); }                  \
    extern "C" uint32_t RQ905_CALL P##_SetConfig(uint32_t handle, uint32_t speed, uint32_t value,      \
                                                 uint32_t mode) {                                      \
        return drv::face::SetConfig(handle, speed, value, mode);                                       \
    }                                                                                                  \
    extern "C" uint32_t RQ905_CALL P##_GetConfig(uint32_t handle, uint32_t* speed, uint32_t* value,    \
                                                 uint32_t* mode) {                                     \
        return drv::face::GetConfig(handle, speed, value, mode);                                       \
    }                                                                                                  \
    extern "C" uint32_t RQ905_CALL P##_Send(uint32_t handle, const uint32_t* request, uint32_t* reply, \
                                            uint32_t* out, uint32_t* status) {                         \
        return drv::face::Send(handle, request, reply, out, status);                                   \
    }                                                                                                  \
    extern "C" uint32_t RQ905_CALL P##_Done(uint32_t* handle) { return drv::face::Done(handle); }      \
    extern "C" uint32_t RQ905_CALL P##_Error(uint32_t code, uint32_t* text) {                          \
        return drv::face::Error(code, text);                                                           \
    }                                                                                                  \
    extern "C" uint32_t RQ905_CALL P##_LateReply(uint32_t handle, uint32_t* address) {                 \
        return drv::face::LateReply(handle, address);                                                  \
    }                                                                                                  \
    static_assert(std::is_same_v<decltype(&P##_LateReply), T318LateReply>);                            \
    static_assert(std::is_same_v<decltype(&P##_Version), T318Version>);                                \
    static_assert(std::is_same_v<decltype(&P##_SetConfig), T318SetConfig>);                            \
    static_assert(std::is_same_v<decltype(&P##_GetConfig), T318GetConfig>);                            \
    static_assert(std::is_same_v<decltype(&P##_Send), T318Send>);                                      \
    static_assert(std::is_same_v<decltype(&P##_Done), T318Done>);                                      \
    static_assert(std::is_same_v<decltype(&P##_Error), T318Error>)
