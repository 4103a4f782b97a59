// Notices for the person at the program that answer no command of theirs:
// a settings file that cannot be read, or will not take the settings at
// the end. They go to standard error, where rq905ctl's user reads them; a
// window program on Windows has no standard error anyone sees, so the
// program also listens and shows them in its window.
#pragma once

#include <functional>
#include <string>

// text: Windows-1250, the file's name first.
using TNoticeListener = std::function<void(const std::string& text)>;
// One listener; an empty one stops listening.
void SetNoticeListener(TNoticeListener listener);

// path: as the system names files (UTF-8 on Linux, the ANSI code page on
// Windows); text: Windows-1250, what follows the name.
void FileNotice(const std::string& path, const std::string& text);
