#include "CtlOutput.h"

#include <cstdio>

#include "core/Cp1250.h"

void WriteLine(std::ostream& stream, std::string_view cp1250) {
    stream << Cp1250ToUtf8(cp1250) << '\n';
    stream.flush();
}

std::string JsonString(std::string_view cp1250) {
    // Escaped in Windows-1250, and WriteLine converts the whole line. JSON
    // forbids only the controls below 0x20 raw; DEL and the C1 controls that
    // the undefined bytes become are escaped too, so that the JSON can be
    // shown on a terminal. Each of them has its own byte as code point.
    std::string json = "\"";
    for (const char c : cp1250) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (c != '\xB7' && PrintableText(std::string_view(&c, 1)) == "\xB7") {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            json += escaped;
        } else {
            json += c;
        }
    }
    return json + "\"";
}

void TJsonObject::Key(std::string_view key) {
    if (m_text.size() > 1) m_text += ',';
    m_text += '"';
    m_text += key;
    m_text += "\":";
}

TJsonObject& TJsonObject::Number(std::string_view key, int64_t value) {
    Key(key);
    m_text += std::to_string(value);
    return *this;
}

TJsonObject& TJsonObject::Text(std::string_view key, std::string_view cp1250) {
    Key(key);
    m_text += JsonString(cp1250);
    return *this;
}

TJsonObject& TJsonObject::Bool(std::string_view key, bool value) {
    Key(key);
    m_text += value ? "true" : "false";
    return *this;
}

TJsonObject& TJsonObject::Null(std::string_view key) {
    Key(key);
    m_text += "null";
    return *this;
}

TJsonObject& TJsonObject::Raw(std::string_view key, std::string_view json) {
    Key(key);
    m_text += json;
    return *this;
}

TJsonObject& TJsonObject::Append(const TJsonObject& other) {
    if (other.m_text.size() > 1) {
        if (m_text.size() > 1) m_text += ',';
        m_text.append(other.m_text, 1);
    }
    return *this;
}

std::string JsonArray(std::initializer_list<int64_t> values) {
    std::string json = "[";
    for (const int64_t v : values) {
        if (json.size() > 1) json += ',';
        json += std::to_string(v);
    }
    return json + "]";
}

std::string JsonArrayOf(const std::string* items, std::size_t count) {
    std::string json = "[";
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) json += ',';
        json += items[i];
    }
    return json + "]";
}
