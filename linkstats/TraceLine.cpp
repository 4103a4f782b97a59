#include "TraceLine.h"

#include <charconv>
#include <cstdlib>

namespace {

constexpr std::string_view kSeparator = " | ";

std::vector<std::string_view> Split(std::string_view text, std::string_view separator) {
    std::vector<std::string_view> parts;
    for (std::size_t from = 0;;) {
        const std::size_t at = text.find(separator, from);
        if (at == std::string_view::npos) {
            parts.push_back(text.substr(from));
            return parts;
        }
        parts.push_back(text.substr(from, at - from));
        from = at + separator.size();
    }
}

// The next blank-separated word of text, taken off its front.
std::string_view Word(std::string_view& text) {
    const std::size_t at = text.find(' ');
    const std::string_view word = text.substr(0, at);
    text = at == std::string_view::npos ? std::string_view() : text.substr(at + 1);
    return word;
}

template <typename T>
std::optional<T> Number(std::string_view text, int base = 10) {
    T value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return value;
}

bool IsHexByte(std::string_view word) { return word.size() == 2 && Number<uint8_t>(word, 16).has_value(); }

// Hex bytes up to the first word that is not one; the rest stays in text.
std::vector<uint8_t> HexBytes(std::string_view& text) {
    std::vector<uint8_t> bytes;
    while (!text.empty()) {
        std::string_view rest = text;
        const std::string_view word = Word(rest);
        if (!IsHexByte(word)) break;
        bytes.push_back(*Number<uint8_t>(word, 16));
        text = rest;
    }
    return bytes;
}

// "refused damaged D echo E"
bool ReadRefused(std::string_view text, TTraceLine& line) {
    if (Word(text) != "refused" || Word(text) != "damaged") return false;
    line.refusedDamaged = Number<uint64_t>(Word(text));
    if (Word(text) != "echo") return false;
    line.refusedEcho = Number<uint64_t>(Word(text));
    return line.refusedDamaged && line.refusedEcho && text.empty();
}

}  // namespace

std::optional<TTraceLine> ParseTraceLine(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    const std::vector<std::string_view> parts = Split(text, kSeparator);
    std::string_view head = parts[0];
    TTraceLine line;
    const std::string_view date = Word(head);
    const std::string_view clock = Word(head);
    if (date.size() != 10 || clock.size() < 8) return std::nullopt;
    line.time = std::string(date) + ' ' + std::string(clock);
    const auto pid = Number<uint32_t>(Word(head));
    line.library = Word(head);
    const auto handle = Number<uint32_t>(Word(head), 16);
    line.entry = Word(head);
    if (!pid || !handle || line.library.empty() || line.entry.empty()) return std::nullopt;
    line.pid = *pid;
    line.handle = *handle;

    std::size_t next = 1;
    if (line.entry == "Send") {
        if (head == "-") {
            head = {};
        } else {
            line.request = HexBytes(head);
            if (line.request->empty()) return std::nullopt;
        }
        if (!head.empty()) return std::nullopt;
        // Received frames, up to the result.
        for (; next < parts.size() && parts[next].rfind("result", 0) != 0; ++next) {
            std::string_view received = parts[next];
            TTraceReceived r;
            r.bytes = HexBytes(received);
            r.verdict = received;
            if (r.verdict.empty()) return std::nullopt;
            line.received.push_back(std::move(r));
        }
    } else if (line.entry == "Done") {
        if (!ReadRefused(head, line)) return std::nullopt;
        line.arguments = head;
    } else {
        line.arguments = head;
    }
    if (next < parts.size()) {
        std::string_view result = parts[next++];
        if (Word(result) != "result") return std::nullopt;
        line.result = Number<uint32_t>(result);
        if (!line.result) return std::nullopt;
    }
    for (; next < parts.size(); ++next) {
        std::string_view part = parts[next];
        if (part.size() > 3 && part.substr(part.size() - 3) == " us") {
            line.micros = Number<uint32_t>(part.substr(0, part.size() - 3));
            if (!line.micros) return std::nullopt;
        } else if (!ReadRefused(part, line)) {
            return std::nullopt;
        }
    }
    return line;
}

std::optional<uint64_t> RefusedEcho(std::string_view line) {
    const std::size_t at = line.rfind("refused damaged ");
    if (at == std::string_view::npos) return std::nullopt;
    const std::size_t echo = line.find(" echo ", at);
    if (echo == std::string_view::npos) return std::nullopt;
    return std::strtoull(std::string(line.substr(echo + 6)).c_str(), nullptr, 10);
}

std::optional<uint8_t> RequestAddress(std::string_view line) {
    const std::size_t at = line.find(" Send A5 ");
    if (at == std::string_view::npos || line.size() < at + 11) return std::nullopt;
    return Number<uint8_t>(line.substr(at + 9, 2), 16);
}
