// Runs rq905-sim as a child process for tests and benchmarks: starts it,
// learns its pty path and UDP port, drives its console and watches its
// output.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace simharness {

class SimProcess {
  public:
    // Waits for the simulator's "ready" line; Ready() tells whether it came.
    SimProcess(const std::string& executable, const std::vector<std::string>& args);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool Ready() const { return m_ready; }
    const std::string& PtyPath() const { return m_ptyPath; }
    std::uint16_t UdpPort() const { return m_udpPort; }
    pid_t Pid() const { return m_pid; }

    // Sends one console line and returns its answer line ("ok" or
    // "error: ..."), or "" when none came in time.
    std::string Command(const std::string& line);
    // True when a line containing text appears after the call (or, with
    // fromStart, anywhere in the output so far).
    bool WaitFor(const std::string& text, std::chrono::milliseconds limit, bool fromStart = false);
    std::vector<std::string> Lines() const;
    // SIGTERM and wait; the exit status, or -1 if it had to be killed.
    int Stop();

  private:
    void ReadOutput();
    bool WaitLine(std::size_t from, const std::string& text, std::chrono::milliseconds limit,
                  std::string* found);

    pid_t m_pid = -1;
    int m_stdin = -1;
    int m_stdout = -1;
    std::thread m_reader;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_lines;
    bool m_ended = false;
    bool m_ready = false;
    std::string m_ptyPath;
    std::uint16_t m_udpPort = 0;
    int m_status = 0;
};

}  // namespace simharness
