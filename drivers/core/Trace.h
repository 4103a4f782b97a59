// The frame trace of one connection: a line for Init, SetConfig and Done
// and one per transaction, with every frame sent and received. A
// connection without a trace has no Tracer at all, so tracing off costs a
// null test per call and nothing else.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Result.h"
#include "TraceSink.h"
#include "Wire.h"

namespace drv {

// Replies a connection received and refused since it was opened. A flood of
// forged or stray datagrams shows up here rather than as a silent slowdown.
struct Refused {
    std::uint64_t damaged = 0;  // failed the CRC, or no frame at all
    std::uint64_t echo = 0;     // a valid frame that does not answer the request
    bool operator==(const Refused&) const = default;
};

// Why received bytes were or were not taken for the answer.
// Duplicate: a second answer to the request, after the one taken.
enum class Verdict { Taken, Address, Tag, Echo, Damaged, Noise, Incomplete, Duplicate };

// A valid frame that does not answer the request: another module, an
// earlier request, or another command or register.
Verdict WhyRefused(const wire::Reply& reply, const wire::Request& request);

struct Received {
    std::vector<std::uint8_t> bytes;
    Verdict verdict;
};

// What one transaction sent and saw, in the order it saw it.
struct TraceRecord {
    std::optional<wire::RequestFrame> request;  // none when the cells were refused unsent
    std::vector<Received> received;
    void Add(std::span<const std::uint8_t> bytes, Verdict verdict) {
        received.push_back({{bytes.begin(), bytes.end()}, verdict});
    }
};

class Tracer {
  public:
    // A tracer when the trace variable names a file that opens, else null
    // (and a file that does not open is told on standard error).
    static std::unique_ptr<Tracer> FromEnvironment(const char* library);
    Tracer(std::shared_ptr<TraceSink> sink, const char* library);

    // Init also tells the tracer its connection's handle (0 when it failed).
    void Init(std::uint32_t handle, std::string_view arguments, Result result,
              std::chrono::microseconds elapsed);
    void SetConfig(std::uint32_t speed, std::uint32_t value, std::uint32_t mode, Result result);
    // refused: the connection's totals, given when this transaction refused something.
    void Send(std::chrono::system_clock::time_point start, const TraceRecord& record, Result result,
              std::chrono::microseconds elapsed, const Refused* refused);
    void Done(Refused refused);

  private:
    std::string Begin(std::chrono::system_clock::time_point time, const char* entry) const;
    void End(std::string& line, Result result);

    std::shared_ptr<TraceSink> m_sink;
    const char* m_library;
    std::uint32_t m_handle = 0;
    std::uint32_t m_pid;
};

}  // namespace drv
