// The yardstick: an empty main window with a menu and a status bar.
#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QStatusBar>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("bare window"));
    window.menuBar()->addAction(QStringLiteral("&File"));
    window.statusBar()->showMessage(QStringLiteral("ready"));
    window.resize(600, 400);
    window.show();
    return app.exec();
}
