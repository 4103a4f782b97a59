#include "Module.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace sim {

std::optional<std::size_t> RegisterSlot(std::uint8_t number) {
    const auto it = std::find(kRegisterNumbers.begin(), kRegisterNumbers.end(), number);
    if (it == kRegisterNumbers.end()) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(it - kRegisterNumbers.begin());
}

Registers FactoryRegisters(std::uint8_t address, std::uint8_t speedIndex) {
    Registers r;
    r.Set(reg::kSpeedIndex, speedIndex);
    r.Set(reg::kBusAddress, address);
    return r;
}

Module::Module(const Registers& stored, Identity identity)
    : m_stored(stored),
      m_identity(std::move(identity)),
      m_address(stored.Get(reg::kBusAddress)),
      m_speedIndex(stored.Get(reg::kSpeedIndex)),
      m_outputs(stored.Get(reg::kDoutInitial)),
      m_pwm(static_cast<std::uint16_t>(stored.Get(reg::kPwmInitialLow) | stored.Get(reg::kPwmInitialHigh)
                                                                             << 8)) {
    m_identity.name.resize(8, ' ');
    m_identity.version.resize(4, ' ');
}

void Module::Restart() {
    Module fresh(m_stored, m_identity);
    fresh.m_inputPins = m_inputPins;
    fresh.m_stuck = std::move(m_stuck);
    *this = std::move(fresh);
}

wire::Reply Module::Handle(const wire::Request& r, Changes* changesOut) {
    wire::Reply reply{r.address, r.command, r.index, r.tag, 0, {}};
    Changes changes;
    wire::ModuleStatus result = wire::ModuleStatus::UnknownCommand;
    switch (r.command) {
        case cmd::kRead:
        case cmd::kWrite:
            result = Digital(r, reply, changes);
            break;
        case cmd::kReadStatus:
        case cmd::kClearStatus:
            if (r.index != 0) {
                result = wire::ModuleStatus::UnknownIndex;
            } else if (r.command == cmd::kReadStatus) {
                for (std::size_t i = 0; i < 4; ++i) {
                    reply.data[1 + i] = static_cast<std::uint8_t>(m_status >> (8 * i));
                }
                result = wire::ModuleStatus::Ok;
            } else {
                m_status = 0;
                changes.statusCleared = true;
                result = wire::ModuleStatus::Ok;
            }
            break;
        case cmd::kReadRegister:
        case cmd::kWriteRegister:
            result = r.index != 0 ? wire::ModuleStatus::UnknownIndex : Register(r, reply, changes);
            break;
        case cmd::kIdentify: {
            const std::string* text = r.index < 2    ? &m_identity.name
                                      : r.index == 2 ? &m_identity.version
                                                     : nullptr;
            if (text == nullptr) {
                result = wire::ModuleStatus::UnknownIndex;
                break;
            }
            const std::size_t from = r.index == 1 ? 4 : 0;
            for (std::size_t i = 0; i < 4; ++i) {
                reply.data[1 + i] = static_cast<std::uint8_t>((*text)[from + i]);
            }
            result = wire::ModuleStatus::Ok;
            break;
        }
        default:
            break;
    }
    reply.status = static_cast<std::uint8_t>(result);
    if (result != wire::ModuleStatus::Ok) {
        reply.data = {};
        // Refused or not, a register command's reply names the register, so
        // that the driver can tell it from a late reply about another.
        if (wire::IsRegisterCommand(r.command)) {
            reply.data[1] = r.data[1];
            reply.data[2] = r.data[2];
        }
    }
    if (changesOut != nullptr) {
        *changesOut = changes;
    }
    return reply;
}

wire::ModuleStatus Module::Digital(const wire::Request& r, wire::Reply& reply, Changes& changes) {
    if (r.command == cmd::kRead) {
        if (r.index != cmd::kDigitalIndex) {
            return wire::ModuleStatus::UnknownIndex;
        }
        reply.data[1] = m_inputPins ^ m_stored.Get(reg::kDinNegation);
        return wire::ModuleStatus::Ok;
    }
    if (r.index == cmd::kDigitalIndex) {
        changes.outputs = m_outputs != r.data[1];
        m_outputs = r.data[1];
        return wire::ModuleStatus::Ok;
    }
    if (r.index == cmd::kPwmIndex) {
        const auto value = static_cast<std::uint16_t>(r.data[1] | r.data[2] << 8);
        changes.pwm = m_pwm != value;
        m_pwm = value;
        return wire::ModuleStatus::Ok;
    }
    return wire::ModuleStatus::UnknownIndex;
}

wire::ModuleStatus Module::Register(const wire::Request& r, wire::Reply& reply, Changes& changes) {
    const std::uint8_t number = r.data[1];
    // The register number travels twice, and a written value too, so that
    // one damaged byte cannot reach another register.
    if (number != r.data[2]) {
        return wire::ModuleStatus::BadData;
    }
    if (!RegisterSlot(number)) {
        return wire::ModuleStatus::UnknownIndex;
    }
    if (r.command == cmd::kReadRegister) {
        reply.data[1] = number;
        reply.data[2] = number;
        reply.data[3] = m_stored.Get(number);
        reply.data[4] = m_stored.Get(number);
        return wire::ModuleStatus::Ok;
    }
    const std::uint8_t value = r.data[3];
    if (value != r.data[4]) {
        return wire::ModuleStatus::BadData;
    }
    if (number == reg::kSpeedIndex && value >= wire::kSpeeds.size()) {
        return wire::ModuleStatus::BadData;
    }
    if (!m_stuck.contains(number)) {
        m_stored.Set(number, value);
        changes.registerWritten = number;
    }
    reply.data[1] = number;
    reply.data[2] = number;
    reply.data[3] = value;
    reply.data[4] = value;
    return wire::ModuleStatus::Ok;
}

namespace {

// A FIFO would hold the start until a writer came, and a device may never
// end: the state is a regular file or nothing.
bool Irregular(const std::string& path, std::string* error) {
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::exists(status) || std::filesystem::is_regular_file(status)) {
        return false;
    }
    if (error != nullptr) {
        *error = path + ": not a regular file";
    }
    return true;
}

}  // namespace

std::optional<std::vector<Registers>> LoadState(const std::string& path, std::string* error) {
    if (Irregular(path, error)) {
        return std::nullopt;
    }
    std::ifstream in(path);
    if (!in) {
        return std::nullopt;
    }
    std::vector<Registers> modules;
    std::string line;
    int lineNumber = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        std::istringstream words(line);
        std::string word;
        if (!(words >> word) || word.starts_with("#")) {
            continue;
        }
        auto fail = [&](const std::string& why) {
            if (error != nullptr) {
                *error = path + ":" + std::to_string(lineNumber) + ": " + why;
            }
            return std::nullopt;
        };
        if (word != "module") {
            return fail("expected 'module'");
        }
        Registers registers = FactoryRegisters(1, 4);
        while (words >> word) {
            unsigned number = 0;
            unsigned value = 0;
            char eq = 0;
            std::istringstream pair(word);
            if (!(pair >> number >> eq >> value) || eq != '=' || number > 255 || value > 255 ||
                !RegisterSlot(static_cast<std::uint8_t>(number))) {
                return fail("bad register entry '" + word + "'");
            }
            registers.Set(static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(value));
        }
        if (registers.Get(reg::kSpeedIndex) >= wire::kSpeeds.size()) {
            return fail("speed index out of range");
        }
        modules.push_back(registers);
    }
    if (modules.empty()) {
        if (error != nullptr) {
            *error = path + ": no module";
        }
        return std::nullopt;
    }
    return modules;
}

bool SaveState(const std::string& path, const std::vector<Registers>& modules, std::string* error) {
    if (Irregular(path, error)) {
        return false;
    }
    const std::string temporary = path + ".tmp" + std::to_string(::getpid());
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << "# rq905-sim state: one module per line, register=value\n";
        for (const auto& registers : modules) {
            out << "module";
            for (std::size_t i = 0; i < kRegisterNumbers.size(); ++i) {
                out << ' ' << unsigned{kRegisterNumbers[i]} << '=' << unsigned{registers.values[i]};
            }
            out << '\n';
        }
        out.flush();
        if (!out) {
            if (error != nullptr) {
                *error = "cannot write " + temporary;
            }
            std::remove(temporary.c_str());
            return false;
        }
    }
    // Windows' C library will not rename over an existing file; the
    // filesystem library replaces it there as well.
    std::error_code renameError;
    std::filesystem::rename(temporary, path, renameError);
    if (renameError) {
        if (error != nullptr) {
            *error = "cannot replace " + path;
        }
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace sim
