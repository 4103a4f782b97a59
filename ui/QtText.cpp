#include "ui/QtText.h"

#include <QFile>

#include "core/Cp1250.h"

QString ToQt(const std::string& text) { return QString::fromStdString(Cp1250ToUtf8(text)); }

std::string FromQt(const QString& text) { return Utf8ToCp1250(text.toStdString()); }

std::string ToFileName(const QString& name) { return QFile::encodeName(name).toStdString(); }
