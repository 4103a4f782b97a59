// Shared state of the recording test drivers. It lives in a library of its
// own so that it survives the drivers being unloaded by CloseInterface, and
// so that tests script the drivers and read what they were called with.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

struct TRecCall {
    std::string library;  // entry-point prefix of the driver that was called
    std::string entry;    // Init, SetConfig, Send, Done, Error, ...
    std::vector<uint64_t> args;
    std::array<uint32_t, 8> request{};  // Send: cells 0..7 of the request
    std::string ipText;                 // Init of kind 4: the text cell 0 points to
};

struct TRecReply {
    uint32_t result = 0;
    uint32_t status = 0;
    uint32_t out = 0;
    std::array<uint32_t, 4> cells{};
};

struct TRecState {
    std::vector<TRecCall> calls;

    uint32_t initResult = 0;
    uint32_t initHandle = 0x51;
    uint32_t setConfigResult = 0;
    uint32_t doneResult = 0;
    uint32_t doneHandleAfter = 0;  // what Done leaves in the caller's handle variable

    // Send answers from the queue first, then from the responder, then
    // with defaultReply.
    std::deque<TRecReply> replies;
    std::function<TRecReply(const std::array<uint32_t, 8>& request)> responder;
    TRecReply defaultReply;
    // Called inside Send before it answers, e.g. to look at the UI while the
    // blocking call runs.
    std::function<void()> duringSend;
    // Called inside Done before it returns.
    std::function<void()> duringDone;

    // Texts of Error; a code without one gets "E<code>". They start in cell 0,
    // as a library's texts may.
    std::map<uint32_t, std::string> errorTexts;

    void Reset() { *this = TRecState{}; }
    std::vector<TRecCall> CallsOf(const std::string& entry) const;
    std::vector<std::array<uint32_t, 8>> SentRequests() const;
};

TRecState& Rec();
