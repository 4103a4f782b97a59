// One line per event on standard error, with the priority prefix that
// journald reads ("<6>"); journald adds the time stamp. UTF-8.
#pragma once

#include <string_view>

enum class TPriority : int { Error = 3, Warning = 4, Notice = 5, Info = 6 };
void Log(TPriority priority, std::string_view message);
