// Program entry: initialise the application, create the main window, run the
// message loop until it closes.
#include <QApplication>
#include <cstdio>
#include <cstring>

#include "linkstats/FrameLog.h"
#include "ui/Hlavni.h"
#include "ui/Program.h"

int main(int argc, char* argv[]) {
    // Answered before the application exists, so that it needs no display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            // By the name it was started as: installed, the program is rq905.
            const char* name = argv[0];
            for (const char* c = argv[0]; *c != '\0'; ++c) {
                if (*c == '/' || *c == '\\') name = c + 1;
            }
            std::printf("%s %s\n", name, RQ905_VERSION);
            return 0;
        }
    }
    QApplication app(argc, argv);
    // Before any connection: the drivers look for their trace at Init.
    TTrafficLog traffic;
    TForm1 form1;
    return RunProgram(form1);
}
