// The one rule by which the program reads every number the user types or
// the settings file holds: leading blanks, then either an optional sign and
// decimal digits, or a hexadecimal prefix ("$", "x", "X", "0x", "0X") and
// hexadecimal digits. Nothing may follow the digits. Decimal values must fit
// a signed 32-bit integer; hexadecimal ones must fit 32 bits and are taken as
// signed 32-bit.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Strict form: false when the text is not an integer; value untouched then.
bool TryStrToInt(std::string_view text, int32_t& value);

// With a default: a text that is not an integer gives the default.
int32_t StrToIntDef(std::string_view text, int32_t def);

// Decimal text of a number, as the program writes numbers into edits and
// the settings file.
std::string IntToStr(int64_t value);
