// rq905-sim: RQ-905 modules on a simulated bus, for the service tool's
// users and for the drivers' tests.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "Server.h"

#ifdef _WIN32
#include <cstdlib>

namespace {

// Started from the Start menu, the simulator's folder is Program Files,
// which the user may not write: its registers are the user's own.
void PlaceStateForTheUser(sim::Options& options) {
    const char* local = std::getenv("LOCALAPPDATA");
    if (options.statePath != sim::Options{}.statePath || local == nullptr || local[0] == '\0') return;
    const std::filesystem::path dir = std::filesystem::path(local) / "RQ-905";
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (!ec) options.statePath = (dir / options.statePath).string();
}

}  // namespace
#endif

int main(int argc, char** argv) {
    // A size, as Windows' C library refuses a buffered mode without one.
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
    std::string error;
    auto options = sim::ParseOptions(std::vector<std::string>(argv + 1, argv + argc), &error);
    if (!options) {
        std::fprintf(stderr, "rq905-sim: %s\n", error.c_str());
        return 2;
    }
    if (options->help) {
        std::fputs(sim::UsageText(), stdout);
        return 0;
    }
    if (options->version) {
        std::printf("rq905-sim %s\n", RQ905_VERSION);
        return 0;
    }
#ifdef _WIN32
    PlaceStateForTheUser(*options);
#endif
    std::vector<sim::Registers> stored;
    if (!options->fresh) {
        if (auto loaded = sim::LoadState(options->statePath, &error)) {
            stored = *loaded;
        } else if (!error.empty()) {
            // Starting over helps a damaged file, not one that is no file.
            std::error_code ec;
            const bool regular = std::filesystem::is_regular_file(options->statePath, ec);
            std::fprintf(stderr, "rq905-sim: %s%s\n", error.c_str(),
                         regular ? " (use --fresh to start over)" : "");
            return 2;
        }
    }
    if (stored.empty()) {
        for (unsigned i = 0; i < options->modules; ++i) {
            stored.push_back(sim::FactoryRegisters(static_cast<std::uint8_t>(options->firstAddress + i),
                                                   options->speedIndex));
        }
        if (!sim::SaveState(options->statePath, stored, &error)) {
            std::fprintf(stderr, "rq905-sim: %s\n", error.c_str());
            return 2;
        }
    }
    sim::Bus bus(stored, options->identity);
    bus.SetFactory(options->firstAddress, options->speedIndex);
    for (auto& module : bus.Modules()) {
        module.SetInputs(options->inputs);
        for (const auto number : options->stuckRegisters) {
            module.SetStuck(number);
        }
        std::printf("module %u at %u Bd\n", unsigned{module.Address()}, wire::kSpeeds[module.SpeedIndex()]);
    }
    std::printf("state %s\n", options->statePath.c_str());
    return sim::Serve(*options, bus);
}
