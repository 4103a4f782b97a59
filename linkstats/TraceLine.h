// Reading the drivers' frame trace, one line at a time (the line format is
// in docs/drivers.md). The reader of the trace must never depend on the
// writer's internals, only on its text, since the maker's drivers or an
// older build may have written it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct TTraceReceived {
    std::vector<uint8_t> bytes;
    std::string verdict;  // "taken", "ignored address", ...
};

struct TTraceLine {
    std::string time;  // local time to the microsecond, as written
    uint32_t pid = 0;
    std::string library;  // TCOM318, ...
    uint32_t handle = 0;
    std::string entry;      // Init, SetConfig, Send or Done
    std::string arguments;  // what the entry was given (not for Send)
    // Send: the request frame as sent; none when it was refused unsent ("-").
    std::optional<std::vector<uint8_t>> request;
    std::vector<TTraceReceived> received;
    std::optional<uint32_t> result;
    std::optional<uint32_t> micros;
    // The connection's refused-reply counters since Init, where the line has them.
    std::optional<uint64_t> refusedDamaged;
    std::optional<uint64_t> refusedEcho;
};

// None for a line of another form (a truncated or foreign line).
std::optional<TTraceLine> ParseTraceLine(std::string_view line);

// The quick looks that a counter needs on every line, without a full parse.
// The connection's count of refused replies from a line that ends with
// "refused damaged D echo E" (a Send that refused something, or Done).
std::optional<uint64_t> RefusedEcho(std::string_view line);
// The bus address of a Send line's request ("... Send A5 07 C8 ..."), if it
// has one.
std::optional<uint8_t> RequestAddress(std::string_view line);
