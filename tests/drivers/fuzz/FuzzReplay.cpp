// Runs the fuzz target without libFuzzer, so every build exercises it:
// valid frames, frames with damage, frames in noise, and random streams.
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "Wire.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main() {
    std::mt19937 random(318);
    auto byte = [&] { return static_cast<std::uint8_t>(random()); };
    auto tag = [&] { return static_cast<std::uint16_t>(random()); };
    int inputs = 0;
    for (int n = 0; n < 20000; ++n) {
        std::vector<std::uint8_t> input{byte()};
        const int frames = static_cast<int>(random() % 4);
        for (int f = 0; f < frames; ++f) {
            for (int noise = static_cast<int>(random() % 6); noise > 0; --noise) {
                input.push_back(random() % 3 == 0 ? wire::kReplySync : byte());
            }
            if (random() % 2 == 0) {
                const auto frame = wire::Encode(wire::Reply{
                    byte(), byte(), byte(), tag(), byte(), {byte(), byte(), byte(), byte(), byte()}});
                input.insert(input.end(), frame.begin(), frame.end());
            } else {
                const auto frame = wire::Encode(
                    wire::Request{byte(), byte(), byte(), tag(), {byte(), byte(), byte(), byte(), byte()}});
                input.insert(input.end(), frame.begin(), frame.end());
            }
            if (random() % 4 == 0) {
                input[1 + random() % (input.size() - 1)] ^= static_cast<std::uint8_t>(1U << (random() % 8));
            }
        }
        LLVMFuzzerTestOneInput(input.data(), input.size());
        ++inputs;
    }
    std::printf("%d inputs checked\n", inputs);
    return 0;
}
