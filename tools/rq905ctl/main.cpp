// rq905ctl: the service tool's functions from a shell, for scripts,
// benches and headless machines.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "Bridge.h"
#include "CtlCommands.h"
#include "CtlConsole.h"
#include "CtlFile.h"
#include "CtlInterrupt.h"
#include "core/Cp1250.h"
#include "core/SettingsPlace.h"

int RunDriversCheck(const std::vector<std::string>& options, std::ostream& out, std::ostream& err);

namespace {

// Output that never arrived is a failure, whatever the command did: a
// script's backup must not be empty while the exit status says it worked.
// As the GNU tools do, a closed standard output counts only when something
// was to be written to it.
int CloseStandardOutput(int exit, bool diff) {
    std::cout.flush();
    const bool failed = std::cout.fail() || std::ferror(stdout) != 0;
    const bool pending = std::fflush(stdout) != 0;
    errno = 0;
    const bool closeFailed = std::fclose(stdout) != 0;
    const int error = errno;
    if (!failed && !pending && !(closeFailed && error != EBADF)) return exit;
    std::string text = "rq905ctl: zápis na standardní výstup selhal";
    if (error != 0) text += std::string(": ") + std::strerror(error);
    std::cerr << Cp1250ToUtf8(text) << '\n';
    // config diff keeps 1 for "different".
    const int failure = diff ? kExitDiffFailure : kExitFailure;
    return exit == kExitOk || (diff && exit == kExitFailure) ? failure : exit;
}

}  // namespace

int main(int argc, char** argv) {
    UseConsoleText();
    ReserveStandardStreams();
    InstallInterruptHandler();
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() >= 2 && args[0] == "drivers" && args[1] == "check") {
        return CloseStandardOutput(RunDriversCheck({args.begin() + 2, args.end()}, std::cout, std::cerr),
                                   false);
    }
    // The driver host's calls cannot be cut short.
    SetCutShortPossible(drv::bridge::DriverDirectory().empty());
    TCtlIo io{std::cout, std::cerr, isatty(STDERR_FILENO) != 0,
              isatty(STDIN_FILENO) != 0 ? &std::cin : nullptr};
    // The program's own settings, read where the program itself reads them.
    const int exit = RunCtl(args, SettingsFiles().read, io);
    return CloseStandardOutput(exit, args.size() >= 2 && args[0] == "config" && args[1] == "diff");
}
