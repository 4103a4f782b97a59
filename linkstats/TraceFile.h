// The private file the drivers' frame trace goes to while a program keeps
// link statistics: it has a name the drivers can open, the program reads it
// back as it grows and empties it now and then, and nothing of it is left
// behind when the program ends.
#pragma once

#include <cstdint>
#include <string>

class TTraceFile {
  public:
    TTraceFile();  // creates the file; Valid() tells whether that worked
    ~TTraceFile();
    TTraceFile(const TTraceFile&) = delete;
    TTraceFile& operator=(const TTraceFile&) = delete;

    bool Valid() const { return !m_name.empty(); }
    // The name for the trace variable.
    const std::string& Name() const { return m_name; }
    // Appends to text what was written since the last read.
    void ReadNew(std::string& text);
    uint64_t ReadSoFar() const { return m_offset; }
    // Empties the file; the drivers append, so they go on at its new end.
    void Empty();

  private:
    std::intptr_t m_handle = -1;
    std::string m_name;
    uint64_t m_offset = 0;
};
