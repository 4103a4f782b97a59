// Helpers of the bus table and configuration tests.
#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <functional>

namespace bustest {

// Runs check() once a modal dialog named objectName (any, when empty) is
// up; checks until then, for dialogs that open only after a scan or a file
// dialog has gone.
inline void WhenDialog(const char* objectName, std::function<void(QWidget*)> check) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, check, name = QString(objectName)] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || (!name.isEmpty() && modal->objectName() != name)) return;
        timer->stop();
        timer->deleteLater();
        check(modal);
    });
    timer->start(5);
}

}  // namespace bustest
