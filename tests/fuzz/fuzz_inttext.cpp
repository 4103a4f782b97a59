// The integer-text rule checked against a plain restatement of it: leading
// blanks; then a sign and decimal digits fitting int32, or a hexadecimal
// prefix and digits fitting 32 bits; nothing after the digits.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/IntText.h"

namespace {

bool IsDigits(std::string_view text, bool hex) {
    if (text.empty()) return false;
    for (const char c : text) {
        const bool digit = c >= '0' && c <= '9';
        const bool letter = (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!digit && !(hex && letter)) return false;
    }
    return true;
}

// Value of the digits when it has at most maxDigits significant digits.
bool Significant(std::string_view digits, std::size_t maxDigits, int base, uint64_t& value) {
    const std::size_t first = digits.find_first_not_of('0');
    digits = first == std::string_view::npos ? std::string_view{} : digits.substr(first);
    if (digits.size() > maxDigits) return false;
    value = digits.empty() ? 0 : std::strtoull(std::string(digits).c_str(), nullptr, base);
    return true;
}

bool Reference(std::string_view text, int32_t& value) {
    const std::size_t start = text.find_first_not_of(' ');
    if (start == std::string_view::npos) return false;
    text.remove_prefix(start);
    std::size_t prefix = 0;
    if (text.starts_with("0x") || text.starts_with("0X")) {
        prefix = 2;
    } else if (text.starts_with("$") || text.starts_with("x") || text.starts_with("X")) {
        prefix = 1;
    }
    uint64_t magnitude = 0;
    if (prefix != 0) {
        const std::string_view digits = text.substr(prefix);
        if (!IsDigits(digits, true) || !Significant(digits, 8, 16, magnitude)) return false;
        value = static_cast<int32_t>(static_cast<uint32_t>(magnitude));
        return true;
    }
    const bool negative = text.starts_with("-");
    if (text.starts_with("-") || text.starts_with("+")) text.remove_prefix(1);
    if (!IsDigits(text, false) || !Significant(text, 10, 10, magnitude)) return false;
    if (magnitude > (negative ? 2147483648ull : 2147483647ull)) return false;
    value =
        static_cast<int32_t>(negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude));
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    int32_t expected = 0x5A5A5A5A;
    int32_t actual = 0x5A5A5A5A;
    const bool expectedOk = Reference(text, expected);
    const bool actualOk = TryStrToInt(text, actual);
    if (expectedOk != actualOk || expected != actual) {
        std::fprintf(stderr, "mismatch: reference %d/%d, TryStrToInt %d/%d\n", expectedOk, expected, actualOk,
                     actual);
        std::abort();
    }
    if (StrToIntDef(text, -17) != (expectedOk ? expected : -17)) std::abort();
    return 0;
}
