// The one place where the program's Windows-1250 texts meet Qt's Unicode.
#pragma once

#include <QString>
#include <string>

QString ToQt(const std::string& text);
std::string FromQt(const QString& text);
// A file name as the platform's file functions take it (UTF-8 on Linux,
// the ANSI code page on Windows).
std::string ToFileName(const QString& name);
