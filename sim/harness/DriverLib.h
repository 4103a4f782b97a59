// One driver library loaded with dlopen and its seven entry points, for
// tests and benchmarks that talk to the drivers the way the program does.
#pragma once

#include <string>

#include "Driver318Abi.h"

namespace simharness {

class DriverLib {
  public:
    // prefix "TCOM318" loads <directory>/libTCOM318.so.
    DriverLib(const std::string& directory, const std::string& prefix);
    ~DriverLib();
    DriverLib(const DriverLib&) = delete;
    DriverLib& operator=(const DriverLib&) = delete;

    // True when the library loaded and all seven entry points resolved.
    bool Loaded() const;
    const std::string& Prefix() const { return m_prefix; }

    T318Version version = nullptr;
    // Exactly one form is meaningful for a library; all three point at its Init.
    T318InitParam initParam = nullptr;
    T318InitPlain initPlain = nullptr;
    T318InitBlock initBlock = nullptr;
    T318SetConfig setConfig = nullptr;
    T318GetConfig getConfig = nullptr;
    T318Send send = nullptr;
    T318Done done = nullptr;
    T318Error error = nullptr;
    // Our libraries' own entry; null in an older build's.
    T318LateReply lateReply = nullptr;

  private:
    void* m_library = nullptr;
    std::string m_prefix;
};

}  // namespace simharness
