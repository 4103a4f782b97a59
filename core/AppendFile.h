// A log file that results are appended to, one whole line per write, so a
// long watch or recording logs each sample as it comes (rq905ctl's
// --output, the trend's recording). It is opened for appending
// only, so that logrotate's copytruncate is safe: after the copy empties
// it, the next line goes to its new end, and a file found empty gets the
// header line again first. A line is never left torn: one a full disk cut
// short is cut back off, and a file that does not end in a line end (torn
// by another program) gets one before the next line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class TOutputFile {
  public:
    TOutputFile() = default;
    ~TOutputFile();
    TOutputFile(const TOutputFile&) = delete;
    TOutputFile& operator=(const TOutputFile&) = delete;

    // path as given, for the file system; reason is Windows-1250.
    bool Open(const std::string& path, std::string& reason);
    bool IsOpen() const { return m_handle != -1; }
    // The file holds nothing (new, or emptied by a rotation).
    bool Empty() const;
    // One UTF-8 line, its end included, in one write; false with the
    // system's reason (Windows-1250) when it could not be written whole.
    bool Append(std::string_view line, std::string& reason);
    // The file's first line without its end ("" for an empty file or one
    // that is no regular file), to tell whose table it holds.
    std::string FirstLine() const;

  private:
    std::intptr_t m_handle = -1;
    std::intptr_t m_reader = -1;  // a regular file's, for its first and last bytes
};
