#include "ui/QtText.h"

#include "core/Cp1250.h"

QString ToQt(const std::string& text) { return QString::fromStdString(Cp1250ToUtf8(text)); }

std::string FromQt(const QString& text) { return Utf8ToCp1250(text.toStdString()); }

std::string PrintableText(const std::string& text) {
    std::string shown = text;
    for (char& c : shown) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F) c = '\xB7';
    }
    return shown;
}
