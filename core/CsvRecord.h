// One record of a CSV table, as rq905ctl and the program's recordings
// write it.
#pragma once

#include <string>
#include <vector>

// One CSV record of Windows-1250 fields, without its line end. A field
// holding a comma, a double quote or a line end is quoted, its quotes
// doubled (RFC 4180); any other goes as it is.
std::string CsvLine(const std::vector<std::string>& fields);
