#include "ui/FormUtil.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <algorithm>

void TFormDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (m_opened) return;
    m_opened = true;
    // Qt makes a dialog's buttons auto-default, and on showing it picks one
    // of them as the Enter button; this runs before that choice.
    for (QPushButton* button : findChildren<QPushButton*>()) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    CentreOnScreen(this);
    FormShow();
}

void TFormDialog::done(int result) {
    for (QTimer* timer : findChildren<QTimer*>()) timer->stop();
    QDialog::done(result);
}

void SetupFixedDialog(QWidget* dialog, int width, int height) {
    dialog->setFixedSize(width, height);
    dialog->setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
}

void CentreOnScreen(QWidget* window) {
    const QScreen* screen = window->screen() != nullptr ? window->screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    window->move(PlaceOnScreen(screen->availableGeometry(), window->frameGeometry().size()));
}

QPoint PlaceOnScreen(const QRect& area, const QSize& frame) {
    const QPoint centred = area.center() - QPoint(frame.width() / 2, frame.height() / 2);
    return {std::max(centred.x(), area.left()), std::max(centred.y(), area.top())};
}

void PumpEventsAndPause() {
    QCoreApplication::processEvents();
    QThread::msleep(1);
}
