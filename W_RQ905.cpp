// Program entry: initialise the application, create the main window, run the
// message loop until it closes.
#include <QApplication>
#include <cstdio>
#include <cstring>

#include "ui/Hlavni.h"
#include "ui/Program.h"

int main(int argc, char* argv[]) {
    // Answered before the application exists, so that it needs no display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("W_RQ905 %s\n", RQ905_VERSION);
            return 0;
        }
    }
    QApplication app(argc, argv);
    TForm1 form1;
    return RunProgram(form1);
}
