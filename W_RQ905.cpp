// Program entry: initialise the application, create the main window, run the
// message loop until it closes.
#include <QApplication>

#include "ui/Hlavni.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    TForm1 form1;
    form1.show();
    return app.exec();
}
