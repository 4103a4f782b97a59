// The one place where the program's Windows-1250 texts meet Qt's Unicode.
#pragma once

#include <QString>
#include <string>

QString ToQt(const std::string& text);
std::string FromQt(const QString& text);

// The module's identification may hold any byte: control characters show
// as a middle dot, so nothing is hidden and nothing cuts the text short.
std::string PrintableText(const std::string& text);
