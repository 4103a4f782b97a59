// A module behind the recording driver whose registers keep what is
// written, that fails or answers wrongly at a chosen transaction, and that
// logs each request it answers.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "RecState.h"

namespace settingstest {

// "102 63 63 0 0": command, D1, D2, D3, D4 of a request.
inline std::string RequestText(const std::array<uint32_t, 8>& r) {
    return std::to_string(r[1]) + " " + std::to_string(r[4]) + " " + std::to_string(r[5]) + " " +
           std::to_string(r[6]) + " " + std::to_string(r[7]);
}
inline std::string Read(unsigned reg, unsigned echo = 0) {
    return RequestText({0, 102, 0, 0, reg, reg, echo, echo});
}
inline std::string Write(unsigned reg, unsigned value) {
    return RequestText({0, 103, 0, 0, reg, reg, value, value});
}

struct TScriptedModule {
    std::map<uint32_t, uint32_t> registers;
    int failAt = -1;  // number of the transaction (from 0) that answers failStatus
    uint32_t failStatus = 5;
    int skewAt = -1;  // number of the read whose value comes back one too high
    int count = 0;
    std::vector<std::string>* log = nullptr;

    TRecReply Answer(const std::array<uint32_t, 8>& r) {
        const int number = count++;
        if (log != nullptr) log->push_back(RequestText(r));
        TRecReply reply;
        if (number == failAt) {
            reply.status = failStatus;
            return reply;
        }
        if (r[1] == 102) reply.cells[2] = registers[r[4]] + (number == skewAt ? 1u : 0u);
        if (r[1] == 103) registers[r[4]] = r[6];
        return reply;
    }

    void Install() {
        Rec().responder = [this](const std::array<uint32_t, 8>& r) { return Answer(r); };
    }
};

}  // namespace settingstest
