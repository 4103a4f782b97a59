#include "core/ProfileText.h"

#include "core/Cp1250.h"

#include <utility>

namespace {

constexpr std::string_view kBlanks = " \t\r\v\f";

std::string_view Trim(std::string_view text) {
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    const std::size_t last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

// One line of the file: its text [begin, end) without the line ending, and
// where the next line begins (end when the line has no ending).
struct TLine {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::size_t next = 0;
};

class TLineReader {
  public:
    // A byte order mark is no part of the first line.
    explicit TLineReader(std::string_view content)
        : m_content(content), m_pos(content.substr(0, kUtf8Bom.size()) == kUtf8Bom ? kUtf8Bom.size() : 0) {}

    bool Next(TLine& line) {
        if (m_pos >= m_content.size()) return false;
        line.begin = m_pos;
        const std::size_t lf = m_content.find('\n', m_pos);
        if (lf == std::string_view::npos) {
            line.end = line.next = m_content.size();
        } else {
            line.end = (lf > m_pos && m_content[lf - 1] == '\r') ? lf - 1 : lf;
            line.next = lf + 1;
        }
        m_pos = line.next;
        return true;
    }

  private:
    std::string_view m_content;
    std::size_t m_pos;
};

enum class TLineKind { Blank, Section, Key, Other };

struct TParsedLine {
    TLineKind kind = TLineKind::Other;
    std::string_view name;   // section or key name, trimmed
    std::string_view value;  // key value, trimmed
};

TParsedLine ParseLine(std::string_view text) {
    TParsedLine parsed;
    const std::string_view trimmed = Trim(text);
    if (trimmed.empty()) {
        parsed.kind = TLineKind::Blank;
        return parsed;
    }
    if (trimmed.front() == '[') {
        const std::size_t close = trimmed.find(']');
        if (close != std::string_view::npos) {
            parsed.kind = TLineKind::Section;
            parsed.name = Trim(trimmed.substr(1, close - 1));
        }
        return parsed;
    }
    if (trimmed.front() == ';') return parsed;  // comment
    const std::size_t equals = trimmed.find('=');
    if (equals == std::string_view::npos) return parsed;
    parsed.name = Trim(trimmed.substr(0, equals));
    if (parsed.name.empty()) return parsed;
    parsed.kind = TLineKind::Key;
    parsed.value = Trim(trimmed.substr(equals + 1));
    return parsed;
}

// Where a key is in the file, or where it would go.
struct TKeyPlace {
    bool sectionFound = false;
    bool keyFound = false;
    TLine keyLine;       // when keyFound
    TParsedLine key;     // when keyFound
    TLine lastNonBlank;  // of the section, its header at least
};

// A name in a UTF-8 text is compared in Windows-1250, as it is asked for.
bool SameName(std::string_view inText, std::string_view wanted, bool utf8) {
    return utf8 ? Cp1250EqualNoCase(Utf8ToCp1250(inText), wanted) : Cp1250EqualNoCase(inText, wanted);
}

TKeyPlace FindKey(std::string_view content, std::string_view section, std::string_view key, bool utf8) {
    TKeyPlace place;
    TLineReader reader(content);
    TLine line;
    while (reader.Next(line)) {
        const TParsedLine parsed = ParseLine(content.substr(line.begin, line.end - line.begin));
        if (parsed.kind == TLineKind::Section) {
            // Only the first section of the name counts.
            if (place.sectionFound) break;
            if (SameName(parsed.name, section, utf8)) {
                place.sectionFound = true;
                place.lastNonBlank = line;
            }
            continue;
        }
        if (!place.sectionFound) continue;
        if (parsed.kind != TLineKind::Blank) place.lastNonBlank = line;
        if (parsed.kind == TLineKind::Key && SameName(parsed.name, key, utf8)) {
            place.keyFound = true;
            place.keyLine = line;
            place.key = parsed;
            break;
        }
    }
    return place;
}

// The file's own line ending, from its first line; CRLF as Windows writes
// when the file has none yet.
std::string_view LineEnding(std::string_view content) {
    const std::size_t lf = content.find('\n');
    if (lf == std::string_view::npos) return "\r\n";
    return (lf > 0 && content[lf - 1] == '\r') ? "\r\n" : "\n";
}

}  // namespace

TProfileText::TProfileText(std::string content)
    : m_content(std::move(content)), m_utf8(IsUtf8Text(m_content)) {}

bool TProfileText::Writable(std::string_view section, std::string_view key, std::string_view value) {
    constexpr std::string_view kBreaks = "\r\n";
    section = Trim(section);
    key = Trim(key);
    if (section.empty() || key.empty()) return false;
    if (section.find_first_of(kBreaks) != std::string_view::npos ||
        section.find(']') != std::string_view::npos)
        return false;
    if (key.find_first_of(kBreaks) != std::string_view::npos || key.find('=') != std::string_view::npos ||
        key.front() == '[' || key.front() == ';')
        return false;
    return value.find_first_of(kBreaks) == std::string_view::npos;
}

std::string TProfileText::ReadString(std::string_view section, std::string_view key,
                                     std::string_view def) const {
    const TKeyPlace place = FindKey(m_content, Trim(section), Trim(key), m_utf8);
    if (!place.keyFound) return std::string(def);
    return m_utf8 ? Utf8ToCp1250(place.key.value) : std::string(place.key.value);
}

bool TProfileText::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    if (!Writable(section, key, value)) return false;
    section = Trim(section);
    key = Trim(key);

    const std::string_view content = m_content;
    const std::string_view eol = LineEnding(content);
    const TKeyPlace place = FindKey(content, section, key, m_utf8);
    // What goes into the text goes in the text's own encoding.
    const auto encoded = [this](std::string_view text) {
        return m_utf8 ? Cp1250ToUtf8(text) : std::string(text);
    };
    std::string updated;
    updated.reserve(content.size() + 2 * (section.size() + key.size() + value.size()) + 8);
    if (place.keyFound) {
        updated.append(content, 0, place.keyLine.begin);
        updated.append(place.key.name).append("=").append(encoded(value));
        updated.append(content.substr(place.keyLine.end));
    } else if (place.sectionFound) {
        const TLine& after = place.lastNonBlank;
        updated.append(content, 0, after.next);
        if (after.next == after.end) updated.append(eol);
        updated.append(encoded(key)).append("=").append(encoded(value)).append(eol);
        updated.append(content.substr(after.next));
    } else {
        updated = content;
        if (!updated.empty() && updated.back() != '\n' && updated != kUtf8Bom) updated.append(eol);
        updated.append("[").append(encoded(section)).append("]").append(eol);
        updated.append(encoded(key)).append("=").append(encoded(value)).append(eol);
    }
    m_content = std::move(updated);
    return true;
}
