#include "IntText.h"

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

bool TryStrToInt(std::string_view text, int32_t& value) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    if (i == text.size()) return false;

    std::size_t prefix = 0;
    if (text[i] == '$' || text[i] == 'x' || text[i] == 'X') {
        prefix = 1;
    } else if (text[i] == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        prefix = 2;
    }
    if (prefix != 0) {
        i += prefix;
        if (i == text.size()) return false;
        uint64_t acc = 0;
        for (; i < text.size(); ++i) {
            const int d = HexDigit(text[i]);
            if (d < 0) return false;
            acc = acc * 16 + static_cast<uint64_t>(d);
            if (acc > 0xFFFFFFFFull) return false;
        }
        value = static_cast<int32_t>(static_cast<uint32_t>(acc));
        return true;
    }

    bool negative = false;
    if (text[i] == '+' || text[i] == '-') {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size()) return false;
    const uint64_t limit = negative ? 2147483648ull : 2147483647ull;
    uint64_t acc = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return false;
        acc = acc * 10 + static_cast<uint64_t>(c - '0');
        if (acc > limit) return false;
    }
    value = negative ? static_cast<int32_t>(-static_cast<int64_t>(acc)) : static_cast<int32_t>(acc);
    return true;
}

int32_t StrToIntDef(std::string_view text, int32_t def) {
    int32_t value = 0;
    return TryStrToInt(text, value) ? value : def;
}

std::string IntToStr(int64_t value) { return std::to_string(value); }
