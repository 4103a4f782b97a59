// Keeps link statistics of every module transaction while it lives: it
// watches the interface library layer's transactions and points the
// drivers' frame trace at a private file, which it reads back for the
// refused replies (the drivers count those inside, and the count reaches
// a program through their trace, the way the driver boundary already
// offers; the seven entry points stay as they are).
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "LinkStats.h"
#include "TraceFile.h"

namespace drv {
class TraceSink;
}

// Points the drivers' trace at path; an empty path turns it off. The
// drivers read the variable at each Init, in this process.
void SetTraceFile(const std::string& path);

class TStatsRecorder {
  public:
    // Whole trace lines, as they are read back, for a view of the frames.
    using TLineListener = std::function<void(std::string_view lines)>;

    // userTrace: a trace the user asked for (a file, or "-" for standard
    // error), which gets every line passed on, opened and written as the
    // drivers themselves would (never blocking, never raising SIGPIPE, a
    // target that fails told once per connection in the driver's name). Construct the recorder
    // before the link opens; Finish once the link is closed, before the
    // summary.
    TStatsRecorder(TLinkStats& stats, const std::optional<std::string>& userTrace);
    ~TStatsRecorder();
    TStatsRecorder(const TStatsRecorder&) = delete;
    TStatsRecorder& operator=(const TStatsRecorder&) = delete;

    // Without a listener or a trace to pass on, the trace is read only now
    // and then; a view calls Poll at the rate it redraws.
    void SetLineListener(TLineListener listener);
    void Poll();
    void Finish();
    // Transactions may run on another thread than the one that reads the
    // stats: both take this lock.
    std::mutex& Mutex() { return m_mutex; }
    // Whether the drivers of the last connection wrote a trace at all (the
    // maker's libraries do not).
    bool Traced() const { return m_traced; }

  private:
    static void Observe(void* self, uint8_t address, uint32_t result, uint32_t micros);
    // Reads the trace's new lines; refused replies go to the address of
    // the request that refused them.
    void ReadTrace();
    // A connection begins: the user's trace is opened for it.
    void Forward(std::string_view initLine);

    TLinkStats& m_stats;
    TTraceFile m_file;
    std::mutex m_mutex;
    TLineListener m_listener;
    std::optional<std::string> m_forwardName;
    // Opened anew at each connection's first line, as a driver opens its
    // trace at each Init.
    std::shared_ptr<drv::TraceSink> m_forward;
    std::string m_forwardLibrary;
    std::string m_pending;  // the part of a line not yet complete
    uint64_t m_echoTotal = 0;
    uint8_t m_lastAddress = 0;
    uint32_t m_unread = 0;  // transactions since the trace was read
    bool m_traced = false;  // a connection opened with the trace
    bool m_finished = false;
};
