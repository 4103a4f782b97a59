// rq905ctl: the service tool's functions from a shell, for scripts,
// benches and headless machines.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "CtlCommands.h"
#include "CtlInterrupt.h"
#include "core/SettingsPlace.h"

int RunDriversCheck(std::ostream& out);

int main(int argc, char** argv) {
    InstallInterruptHandler();
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args == std::vector<std::string>{"drivers", "check"}) {
        return RunDriversCheck(std::cout);
    }
    TCtlIo io{std::cout, std::cerr, isatty(STDERR_FILENO) != 0};
    // The program's own settings, read where the program itself reads them.
    return RunCtl(args, SettingsFiles().read, io);
}
