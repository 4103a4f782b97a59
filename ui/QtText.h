// The one place where the program's Windows-1250 texts meet Qt's Unicode.
#pragma once

#include <QString>
#include <string>

QString ToQt(const std::string& text);
std::string FromQt(const QString& text);
