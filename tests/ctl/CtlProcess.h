// Runs the built rq905ctl as a child process with captured stdout, stderr
// and exit status, as a script would.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace ctltest {

struct TRun {
    int exit = -1;  // -1: did not exit normally
    std::string out;
    std::string err;
};

class TCtlChild {
  public:
    // env: extra NAME=VALUE entries on top of this process's environment.
    TCtlChild(const std::vector<std::string>& args, const std::vector<std::string>& env = {});
    ~TCtlChild();
    TCtlChild(const TCtlChild&) = delete;
    TCtlChild& operator=(const TCtlChild&) = delete;

    // Reads until stdout holds n whole lines; false if the child ended first.
    bool WaitForLines(std::size_t n);
    bool WaitForLine() { return WaitForLines(1); }
    // Reads until stdout holds text after what the last call found; false
    // if the child ended first.
    bool WaitForText(const std::string& text);
    void Signal(int signal);
    // Reads to the end of both streams and reaps the child.
    TRun Finish();

  private:
    // One poll round over the open streams; false when both are closed.
    bool Pump();

    pid_t m_pid = -1;
    int m_out = -1;
    int m_err = -1;
    TRun m_run;
    std::size_t m_found = 0;
};

inline TRun RunCtl(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
    return TCtlChild(args, env).Finish();
}

}  // namespace ctltest
