// Where rq905ctl's texts leave the program: the one point at which the
// program's Windows-1250 texts become UTF-8 for the terminal and for JSON.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <istream>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "core/CsvRecord.h"

struct TCtlIo {
    std::ostream& out;
    std::ostream& err;
    // Progress texts of the register sequences on err (for a person at a
    // terminal; scripts get only results and failures).
    bool progress = false;
    // Where a technician answers commission's questions: a terminal's
    // input, else none (scripts use --yes).
    std::istream* in = nullptr;
};

// A Windows-1250 text, converted, then a line end.
void WriteLine(std::ostream& stream, std::string_view cp1250);

// A JSON string literal of a Windows-1250 text, itself Windows-1250: JSON
// is built in the program's code page and converted with the line.
std::string JsonString(std::string_view cp1250);

// Builds one JSON object, members in the order added.
class TJsonObject {
  public:
    TJsonObject& Number(std::string_view key, int64_t value);
    TJsonObject& Text(std::string_view key, std::string_view cp1250);
    TJsonObject& Bool(std::string_view key, bool value);
    TJsonObject& Null(std::string_view key);
    // value is already JSON (an object or an array).
    TJsonObject& Raw(std::string_view key, std::string_view json);
    // The members of other, after those added so far.
    TJsonObject& Append(const TJsonObject& other);
    std::string Str() const { return m_text + "}"; }

  private:
    void Key(std::string_view key);
    std::string m_text = "{";
};

std::string JsonArray(std::initializer_list<int64_t> values);
std::string JsonArrayOf(const std::string* items, std::size_t count);
