// Binary interface of the interface libraries (TCOM318, TPCI318, TPCI1318,
// TUSB1318, TRQ1318). The program, the substitute drivers, the test drivers
// and outside tools all build against this one header, so it stays free of
// anything but fixed-width C types.
#pragma once

#include <cstddef>
#include <cstdint>

namespace abi318 {

// Request, reply and text blocks that cross the boundary.
inline constexpr std::size_t kCellCount = 100;
// Parameter block of Init. Cells are pointer-sized: cell 0 of the LAN
// converter carries the address of the IP text, which must never be cut to
// 32 bits on a 64-bit build.
inline constexpr std::size_t kInitParamCount = 16;

}  // namespace abi318

// The calling convention of the entry points. 32-bit Windows driver
// libraries of this kind are __stdcall (the callee pops its arguments); a
// caller that assumed cdecl would leave the stack off by the arguments'
// size after every call. Elsewhere there is one convention.
#if !defined(RQ905_CALL)
#if defined(_WIN32) && defined(__i386__)
#define RQ905_CALL __stdcall
#else
#define RQ905_CALL
#endif
#endif

extern "C" {
// Every entry point of one library is exported as <prefix>_<name>.
using T318Version = uint32_t(RQ905_CALL*)(void);
using T318InitParam = uint32_t(RQ905_CALL*)(uint32_t* handle, uint32_t param);           // kinds 0, 1
using T318InitPlain = uint32_t(RQ905_CALL*)(uint32_t* handle);                           // kinds 2, 3
using T318InitBlock = uint32_t(RQ905_CALL*)(uint32_t* handle, const uintptr_t* params);  // kind 4
using T318SetConfig = uint32_t(RQ905_CALL*)(uint32_t handle, uint32_t speed, uint32_t value, uint32_t mode);
using T318GetConfig = uint32_t(RQ905_CALL*)(uint32_t handle, uint32_t* speed, uint32_t* value,
                                            uint32_t* mode);
using T318Send = uint32_t(RQ905_CALL*)(uint32_t handle, const uint32_t* request, uint32_t* reply,
                                       uint32_t* out, uint32_t* status);
using T318Done = uint32_t(RQ905_CALL*)(uint32_t* handle);
using T318Error = uint32_t(RQ905_CALL*)(uint32_t code, uint32_t* text);
// Our own libraries' eighth entry, which the maker's do not have: in a
// scan, the address of a module whose reply came after its Send had
// returned silence (0, each once), or 11 when there is none.
using T318LateReply = uint32_t(RQ905_CALL*)(uint32_t handle, uint32_t* address);
}
