#include "Frame.h"

namespace drvhost {

namespace {

void Put(std::uint8_t* out, std::uint32_t w) {
    out[0] = static_cast<std::uint8_t>(w);
    out[1] = static_cast<std::uint8_t>(w >> 8);
    out[2] = static_cast<std::uint8_t>(w >> 16);
    out[3] = static_cast<std::uint8_t>(w >> 24);
}

std::uint32_t Get(const std::uint8_t* in) {
    return static_cast<std::uint32_t>(in[0]) | static_cast<std::uint32_t>(in[1]) << 8 |
           static_cast<std::uint32_t>(in[2]) << 16 | static_cast<std::uint32_t>(in[3]) << 24;
}

}  // namespace

std::size_t Encode(const Frame& frame, std::uint8_t* out) {
    Put(out, frame.tag);
    Put(out + 4, frame.count);
    for (std::uint32_t i = 0; i < frame.count; ++i) {
        Put(out + kHeaderBytes + 4 * i, frame.words[i]);
    }
    return kHeaderBytes + 4 * std::size_t{frame.count};
}

bool DecodeHeader(const std::uint8_t* in, Frame& frame) {
    frame.tag = Get(in);
    frame.count = Get(in + 4);
    return frame.count <= kMaxWords;
}

void DecodeWords(const std::uint8_t* in, Frame& frame) {
    for (std::uint32_t i = 0; i < frame.count; ++i) {
        frame.words[i] = Get(in + 4 * i);
    }
}

bool ReadFrame(ReadExact read, void* context, Frame& frame) {
    std::uint8_t buffer[4 * kMaxWords];
    if (!read(context, buffer, kHeaderBytes) || !DecodeHeader(buffer, frame)) {
        return false;
    }
    if (frame.count > 0 && !read(context, buffer, 4 * std::size_t{frame.count})) {
        return false;
    }
    DecodeWords(buffer, frame);
    return true;
}

bool WriteFrame(WriteAll write, void* context, const Frame& frame) {
    std::uint8_t buffer[kHeaderBytes + 4 * kMaxWords];
    return write(context, buffer, Encode(frame, buffer));
}

}  // namespace drvhost
