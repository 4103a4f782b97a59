#include "ui/LateIconStyle.h"

#include <QApplication>
#include <QIconEngine>
#include <QPointer>
#include <QStyleOption>
#include <memory>

namespace {

// Asks the style for the real icon on the first question that needs it,
// and answers everything from that icon.
class TLateIconEngine final : public QIconEngine {
  public:
    TLateIconEngine(QStyle* style, QStyle::StandardPixmap which, Qt::LayoutDirection direction)
        : m_late(std::make_shared<TLate>(TLate{style, which, direction, {}, false})) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
        Icon().paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return Icon().actualSize(size, mode, state);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return Icon().pixmap(size, 1.0, mode, state);
    }
    // Qt asks for the size in device pixels; the icon wants it in logical ones.
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state, qreal scale) override {
        return Icon().pixmap(scale > 0 ? size / scale : size, scale, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override {
        return Icon().availableSizes(mode, state);
    }
    // Asked while a button is laid out: answered without reading anything.
    bool isNull() override { return false; }
    QIconEngine* clone() const override { return new TLateIconEngine(*this); }
    QString key() const override { return QStringLiteral("rq905late"); }

  private:
    struct TLate {
        QPointer<QStyle> style;
        QStyle::StandardPixmap which;
        Qt::LayoutDirection direction;
        QIcon icon;
        bool made;
    };

    QIcon& Icon() {
        TLate& late = *m_late;
        if (!late.made && late.style != nullptr) {
            late.made = true;
            QStyleOption option;
            option.direction = late.direction;
            late.icon = late.style->standardIcon(late.which, &option);
        }
        return late.icon;
    }

    // Shared by the copies, so the icon is read once.
    std::shared_ptr<TLate> m_late;
};

}  // namespace

QIcon TLateIconStyle::standardIcon(StandardPixmap which, const QStyleOption* option,
                                   const QWidget* widget) const {
    if (which != SP_ToolBarHorizontalExtensionButton && which != SP_ToolBarVerticalExtensionButton) {
        return QProxyStyle::standardIcon(which, option, widget);
    }
    const Qt::LayoutDirection direction =
        option != nullptr ? option->direction : QGuiApplication::layoutDirection();
    return QIcon(new TLateIconEngine(baseStyle(), which, direction));
}

void UseLateStandardIcons() {
    QStyle* current = QApplication::style();
    if (qobject_cast<TLateIconStyle*>(current) != nullptr || current->name().isEmpty()) return;
    QApplication::setStyle(new TLateIconStyle(current->name()));
}
