// The framing between a driver library and the driver host: one request,
// one answer, each a tag and a count followed by that many 32-bit words,
// all little-endian. The request's tag is the operation, the answer's the
// entry point's result. Every pointer argument travels as the words it
// points to, in and out.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace drvhost {

// Operations. The three forms of Init share one entry point of the library.
enum class Op : std::uint32_t {
    Version = 0,
    InitParam = 1,  // in: handle, param                      out: handle
    InitPlain = 2,  // in: handle                             out: handle
    InitBlock = 3,  // in: handle, 16 cells, IP text length, text bytes (one a word)
                    // out: handle
    SetConfig = 4,  // in: handle, speed, value, mode
    GetConfig = 5,  // in: handle, speed, value, mode         out: speed, value, mode
    Send = 6,       // in: handle, 100 request, 100 reply, out, status
                    // out: 100 reply, out, status
    Done = 7,       // in: handle                             out: handle
    Error = 8,      // in: code, 100 text                     out: 100 text
};

// The host's first message: this tag and three words, the outcome of
// loading the library, the entry points missing (bit n for the n-th of
// Version, Init, SetConfig, GetConfig, Send, Done, Error) and the system's
// error code of a library that did not load (0 otherwise).
inline constexpr std::uint32_t kHello = 0x48445152;  // "RQDH"
enum class Loaded : std::uint32_t {
    Ok = 0,
    NotLoadable = 1,   // missing, or not a 32-bit library
    MissingEntry = 2,  // loaded, but one of the seven entry points is absent
    BadArguments = 3,
};

inline constexpr std::size_t kCells = 100;
inline constexpr std::size_t kInitCells = 16;
inline constexpr std::size_t kMaxText = 255;
inline constexpr std::size_t kMaxWords = 1 + kInitCells + 1 + kMaxText;
static_assert(kMaxWords >= 1 + 2 * kCells + 2);

struct Frame {
    std::uint32_t tag = 0;
    std::uint32_t count = 0;
    std::array<std::uint32_t, kMaxWords> words{};

    void Push(std::uint32_t w) { words[count++] = w; }
};

inline constexpr std::size_t kHeaderBytes = 8;

// Encodes into out (at least kHeaderBytes + 4 * kMaxWords bytes); returns
// the number of bytes.
std::size_t Encode(const Frame& frame, std::uint8_t* out);
// The header of a frame: false when the count is beyond kMaxWords.
bool DecodeHeader(const std::uint8_t* in, Frame& frame);
void DecodeWords(const std::uint8_t* in, Frame& frame);

// Reads or writes exactly n bytes, false at end of input or on a failure.
using ReadExact = bool (*)(void* context, std::uint8_t* data, std::size_t n);
using WriteAll = bool (*)(void* context, const std::uint8_t* data, std::size_t n);

bool ReadFrame(ReadExact read, void* context, Frame& frame);
bool WriteFrame(WriteAll write, void* context, const Frame& frame);

}  // namespace drvhost
