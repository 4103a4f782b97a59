// One record of a CSV table, as rq905ctl and the program's recordings
// write it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// One CSV record of Windows-1250 fields, without its line end. A field
// holding a comma, a double quote or a line end is quoted, its quotes
// doubled (RFC 4180); any other goes as it is.
std::string CsvLine(const std::vector<std::string>& fields);

// A field of text from outside (a module's name or version, a driver's
// text), kept from being taken for a formula by a spreadsheet: one that
// begins with =, +, -, @, a tab or a CR gets a leading apostrophe, as the
// OWASP advice on CSV injection has it. Numbers of our own go as they are.
std::string CsvText(std::string_view text);
