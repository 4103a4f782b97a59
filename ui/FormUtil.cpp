#include "ui/FormUtil.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QThread>

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

void SetupFixedDialog(QWidget* dialog, int width, int height) {
    dialog->setFixedSize(width, height);
    dialog->setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
}

void CentreOnScreen(QWidget* window) {
    const QScreen* screen = window->screen() != nullptr ? window->screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    const QRect area = screen->availableGeometry();
    const QSize size = window->frameGeometry().size();
    window->move(area.center() - QPoint(size.width() / 2, size.height() / 2));
}

void PumpEventsAndPause() {
    QCoreApplication::processEvents();
    QThread::msleep(1);
}
