// Fuzz target of the frame decoders. Besides not crashing, the decoders
// must never produce a frame that was not in the input, and must find the
// same frames however the stream is cut into pieces.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "Wire.h"

namespace {

void Require(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

template <typename Frame>
std::vector<Frame> DecodeInPieces(std::span<const std::uint8_t> bytes, std::size_t piece) {
    wire::StreamDecoder<Frame> decoder;
    std::vector<Frame> frames;
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
        decoder.Feed(bytes.subspan(at, std::min(piece, bytes.size() - at)));
        while (auto frame = decoder.Next()) {
            frames.push_back(*frame);
        }
    }
    return frames;
}

template <typename Frame>
void CheckStream(std::span<const std::uint8_t> bytes, std::size_t piece) {
    const auto whole = DecodeInPieces<Frame>(bytes, bytes.size() + 1);
    Require(DecodeInPieces<Frame>(bytes, piece) == whole);
    for (const auto& frame : whole) {
        const auto encoded = wire::Encode(frame);
        Require(std::search(bytes.begin(), bytes.end(), encoded.begin(), encoded.end()) != bytes.end());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte chooses how the rest is cut into pieces.
    const std::size_t piece = 1 + data[0] % 16;
    const std::span<const std::uint8_t> bytes(data + 1, size - 1);

    if (const auto reply = wire::DecodeReply(bytes)) {
        const auto encoded = wire::Encode(*reply);
        Require(std::equal(encoded.begin(), encoded.end(), bytes.begin(), bytes.end()));
    }
    if (const auto request = wire::DecodeRequest(bytes)) {
        const auto encoded = wire::Encode(*request);
        Require(std::equal(encoded.begin(), encoded.end(), bytes.begin(), bytes.end()));
    }
    CheckStream<wire::Reply>(bytes, piece);
    CheckStream<wire::Request>(bytes, piece);
    return 0;
}
