// The frames of the drivers' trace, one by one, for a view of the line's
// traffic: each request as sent and each frame received in answer to it,
// decoded, with the transaction's result and what the driver made of the
// frame. The last frames are kept in a ring of fixed size, so that a busy
// line costs a bounded amount of memory however long it runs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "LinkStats.h"
#include "StatsRecorder.h"

struct TFrame {
    std::string time;            // as the trace wrote it: date and time to the microsecond
    bool sent = true;            // a request as sent; else a frame received
    uint8_t kind = 0xFF;         // interface kind of the library that traced it, 0xFF unknown
    std::vector<uint8_t> bytes;  // empty: a request refused before sending
    // Decoded from the bytes when they are a whole frame; else, for the
    // filter, the request's address and command.
    std::optional<uint8_t> address;
    std::optional<uint8_t> command;
    bool decoded = false;  // index, data and status are the frame's own
    uint8_t index = 0;
    std::array<uint8_t, 5> data{};
    uint8_t status = 0;   // a reply's module status
    std::string verdict;  // a received frame's: "taken", "ignored address", ...
    uint32_t result = 0;  // the transaction's result
    uint32_t micros = 0;  // the transaction's duration
};

// Appends the frames of one trace line (a Send line; other lines have
// none) to frames.
void FramesOfTraceLine(std::string_view line, std::vector<TFrame>& frames);

// The last frames, numbered from 0 in the order they came; the oldest leave
// when the ring is full.
class TFrameRing {
  public:
    explicit TFrameRing(std::size_t capacity) : m_capacity(capacity) {}
    void Push(TFrame&& frame);
    // Numbers of the frames held: First() to End() - 1.
    uint64_t First() const { return m_end - m_frames.size(); }
    uint64_t End() const { return m_end; }
    // Null for a number not held (any more).
    const TFrame* At(uint64_t number) const;
    std::size_t Capacity() const { return m_capacity; }

  private:
    std::size_t m_capacity;
    std::vector<TFrame> m_frames;  // grows up to the capacity, then wraps
    uint64_t m_end = 0;
};

// What the program records of its line while it runs: the link statistics
// of every transaction and the frames of the drivers' trace. One exists
// for the program's whole run, created before any connection opens, since
// the drivers look for the trace at each Init.
class TTrafficLog {
  public:
    static constexpr std::size_t kCapacity = 100000;

    explicit TTrafficLog(std::size_t capacity = kCapacity);
    ~TTrafficLog();
    TTrafficLog(const TTrafficLog&) = delete;
    TTrafficLog& operator=(const TTrafficLog&) = delete;

    // The program's own log, null when it has none.
    static TTrafficLog* Current();

    // Transactions may run on another thread than the view: the frames,
    // the stats and Traced() are read under this lock.
    std::mutex& Mutex() { return m_recorder.Mutex(); }
    // Reads the trace's new lines now (takes the lock).
    void Poll() { m_recorder.Poll(); }
    const TFrameRing& Frames() const { return m_frames; }
    const TLinkStats& Stats() const { return m_stats; }
    bool Traced() const { return m_traced || m_recorder.Traced(); }
    void ResetStats();  // takes the lock

    // Whole trace lines, as the recorder hands them over (under the lock).
    void AddLines(std::string_view lines);

  private:
    // The trace variable as it was: given back when the log ends, so that
    // a later log does not take this one's private file for the user's.
    std::optional<std::string> m_inheritedTrace;
    TLinkStats m_stats;
    TFrameRing m_frames;
    bool m_traced = false;  // lines came in by AddLines
    std::vector<TFrame> m_parsed;
    TStatsRecorder m_recorder;  // last: it calls AddLines until it is gone
};
