// The application's style, with the standard icons that a window asks for
// while it is built read only when they are drawn.
#pragma once

#include <QProxyStyle>

// Every QMenuBar asks its style for the overflow arrow as it is made, and
// the common style reads that arrow through an image reader that guesses
// the format: it loads every image-format plugin (and with them QtSvg and
// libjpeg) before the first window shows, for an arrow drawn only when
// the menu bar is too narrow. This style hands out the extension arrows as
// icons that ask the style underneath on their first use, so they look
// exactly as before; every other answer is the style underneath's.
class TLateIconStyle final : public QProxyStyle {
    Q_OBJECT
  public:
    explicit TLateIconStyle(const QString& key) : QProxyStyle(key) {}
    QIcon standardIcon(StandardPixmap which, const QStyleOption* option = nullptr,
                       const QWidget* widget = nullptr) const override;
};

// Makes the application's style (the platform's own or the one chosen
// with -style) a TLateIconStyle over the same style; once is enough, and a
// style of the program's own making is left as it is.
void UseLateStandardIcons();
