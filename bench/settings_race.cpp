// Two processes save the connection settings at the same moment, one with
// the LAN converter and one with the ISA card, into a fresh settings file
// per trial. Counts the trials whose file lost a section the other process
// wrote, and those whose "Připojení" record mixes the two saves.
// Usage: rq905_settings_race [trials]. Prints figures; judges nothing.
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "core/Dekl.h"
#include "core/IniFile.h"

namespace {

namespace fs = std::filesystem;

TData Record(uint8_t kind, uint8_t address, uint32_t speed) {
    TData data;
    SetDefaults(&data);
    data.Kind = kind;
    data.ModuleAddress = address;
    data.Speed = speed;
    data.IpAddress = "10.0.0.7";
    data.IsaBase = 672;
    return data;
}

// Both children wait on the pipe until the parent closes its end.
pid_t SaveInChild(const int startPipe[2], const TData& data, const std::string& path) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    close(startPipe[1]);
    char byte = 0;
    (void)!read(startPipe[0], &byte, 1);
    TData copy = data;
    _exit(SaveSettings(&copy, path) ? 0 : 1);
}

}  // namespace

int main(int argc, char** argv) {
    const int trials = argc > 1 ? std::atoi(argv[1]) : 100;
    std::string dir = (fs::temp_directory_path() / "rq905raceXXXXXX").string();
    if (mkdtemp(dir.data()) == nullptr) return 1;
    const std::string path = dir + "/W_rq905.ini";
    const TData lan = Record(kKindLan, 11, 19200);
    const TData isa = Record(kKindIsa, 22, 57600);

    int lostSections = 0, mixedRecords = 0, failedSaves = 0;
    for (int trial = 0; trial < trials; ++trial) {
        fs::remove(path);
        int fds[2];
        if (pipe(fds) != 0) return 1;
        const pid_t a = SaveInChild(fds, lan, path);
        const pid_t b = SaveInChild(fds, isa, path);
        close(fds[0]);
        close(fds[1]);
        for (const pid_t child : {a, b}) {
            int status = 0;
            waitpid(child, &status, 0);
            if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++failedSaves;
        }

        TProfileFile file(path);
        file.Load();
        const bool lanKept = file.ReadString("RQ-1318", "IP adresa", "") == "10.0.0.7" &&
                             file.ReadString("RQ-1318", "UDP port", "") == "5000" &&
                             file.ReadString("RQ-1318", "UDP timeout", "") == "100";
        const bool isaKept = file.ReadString("PCI-318", "Bázová adresa", "") == "672";
        if (!lanKept || !isaKept) ++lostSections;
        const std::string record = file.ReadString("Připojení", "Rozhraní", "") + "/" +
                                   file.ReadString("Připojení", "Adresa", "") + "/" +
                                   file.ReadString("Připojení", "Rychlost", "");
        if (record != "RQ-1318/11/19200" && record != "PCI-318/22/57600") ++mixedRecords;
    }
    fs::remove_all(dir);
    std::printf("paired saves: %d\nlost a section: %d\nmixed record: %d\nfailed saves: %d\n", trials,
                lostSections, mixedRecords, failedSaves);
    return 0;
}
