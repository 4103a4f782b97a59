#include "DriverFixture.h"

#include <cstdlib>
#include <filesystem>
#include <map>

namespace drvtest {

simharness::DriverLib& Library(const char* prefix) {
    static std::map<std::string, std::unique_ptr<simharness::DriverLib>> libraries;
    auto& slot = libraries[prefix];
    if (!slot) {
        slot = std::make_unique<simharness::DriverLib>(RQ905_DRIVER_DIR, prefix);
    }
    return *slot;
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "rq905-drv-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) {
        m_path = pattern;
    }
}

TempDir::~TempDir() {
    std::error_code ec;
    if (!m_path.empty()) {
        std::filesystem::remove_all(m_path, ec);
    }
}

std::unique_ptr<simharness::SimProcess> StartSim(std::vector<std::string> args) {
    return std::make_unique<simharness::SimProcess>(RQ905_SIM_EXECUTABLE, args);
}

std::uint32_t Open(const Kind& kind, const simharness::SimProcess& sim, std::uint32_t& handle,
                   std::uint32_t udpTimeoutMs) {
    auto& lib = Library(kind.prefix);
    if (kind.variable != nullptr) {
        ::setenv(kind.variable, sim.PtyPath().c_str(), 1);
    }
    switch (kind.form) {
        case InitForm::Param:
            return lib.initParam(&handle, kind.param);
        case InitForm::Plain:
            return lib.initPlain(&handle);
        case InitForm::Block: {
            static const char* const kHost = "127.0.0.1";
            std::array<std::uintptr_t, abi318::kInitParamCount> params{};
            params[0] = reinterpret_cast<std::uintptr_t>(kHost);
            params[1] = sim.UdpPort();
            params[2] = udpTimeoutMs;
            return lib.initBlock(&handle, params.data());
        }
    }
    return ~0U;
}

Tx Transact(simharness::DriverLib& lib, std::uint32_t handle, std::uint8_t address, std::uint8_t command,
            std::uint8_t index, std::array<std::uint8_t, 5> data) {
    std::array<std::uint32_t, abi318::kCellCount> request{};
    std::array<std::uint32_t, abi318::kCellCount> reply{};
    request[0] = address;
    request[1] = command;
    request[2] = index;
    for (std::size_t i = 0; i < 5; ++i) {
        request[3 + i] = data[i];
    }
    Tx tx;
    std::uint32_t out = 0;
    tx.result = lib.send(handle, request.data(), reply.data(), &out, &tx.status);
    if (tx.Ok()) {
        tx.data = {static_cast<std::uint8_t>(out), static_cast<std::uint8_t>(reply[0]),
                   static_cast<std::uint8_t>(reply[1]), static_cast<std::uint8_t>(reply[2]),
                   static_cast<std::uint8_t>(reply[3])};
    }
    return tx;
}

}  // namespace drvtest
