// What the five driver libraries have in common. Each library's exported
// functions are one-line calls into these; none of them lets an exception
// out, because the caller may not even be C++.
#pragma once

#include <cstdint>

#include "DeviceLookup.h"

namespace drv::face {

// 1.02, as the module generation the drivers were written for.
inline constexpr std::uint32_t kVersion = 0x0102;

std::uint32_t Version() noexcept;
using DeviceFinder = Device (*)(std::uint32_t param);
// A serial library: its name, the name of Init's parameter as a trace shows
// it (null when its Init has none), and how it finds its device.
struct SerialFace {
    const char* library;
    const char* parameter;
    bool hexParameter;
    DeviceFinder find;
};
std::uint32_t InitSerial(const SerialFace& face, std::uint32_t* handle, std::uint32_t param) noexcept;
// params: cell 0 the address of the IP text, cell 1 the UDP port, cell 2 the
// time-out in ms (0 derives it from the line configuration).
std::uint32_t InitUdp(const char* library, std::uint32_t* handle, const std::uintptr_t* params) noexcept;
std::uint32_t SetConfig(std::uint32_t handle, std::uint32_t speed, std::uint32_t value,
                        std::uint32_t mode) noexcept;
std::uint32_t GetConfig(std::uint32_t handle, std::uint32_t* speed, std::uint32_t* value,
                        std::uint32_t* mode) noexcept;
std::uint32_t Send(std::uint32_t handle, const std::uint32_t* request, std::uint32_t* reply,
                   std::uint32_t* out, std::uint32_t* status) noexcept;
std::uint32_t Done(std::uint32_t* handle) noexcept;
std::uint32_t LateReply(std::uint32_t handle, std::uint32_t* address) noexcept;
std::uint32_t Error(std::uint32_t code, std::uint32_t* text) noexcept;

}  // namespace drv::face
