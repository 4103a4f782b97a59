#include "Bus.h"

#include "Options.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace sim {

Bus::Bus(const std::vector<Registers>& stored, const Identity& identity) : m_identity(identity) {
    m_modules.reserve(stored.size());
    for (const auto& registers : stored) {
        m_modules.emplace_back(registers, identity);
    }
}

Module* Bus::Find(std::uint8_t address) {
    for (auto& module : m_modules) {
        if (module.Address() == address) {
            return &module;
        }
    }
    return nullptr;
}

std::vector<Module*> Bus::FindAll(std::uint8_t address) {
    std::vector<Module*> found;
    for (auto& module : m_modules) {
        if (module.Address() == address) {
            found.push_back(&module);
        }
    }
    return found;
}

void Bus::SetFactory(std::uint8_t address, std::uint8_t speedIndex) {
    m_factoryAddress = address;
    m_factorySpeedIndex = speedIndex;
}

Module& Bus::Add(std::optional<std::uint8_t> address, std::optional<std::uint8_t> speedIndex) {
    return m_modules.emplace_back(
        FactoryRegisters(address.value_or(m_factoryAddress), speedIndex.value_or(m_factorySpeedIndex)),
        m_identity);
}

bool Bus::Remove(std::uint8_t address) {
    for (auto it = m_modules.rbegin(); it != m_modules.rend(); ++it) {
        if (it->Address() == address) {
            m_modules.erase(std::next(it).base());
            return true;
        }
    }
    return false;
}

std::vector<std::uint8_t> Collide(const std::vector<std::vector<std::uint8_t>>& replies,
                                  unsigned offsetBits) {
    constexpr unsigned kBits = wire::kBitsPerByte;
    std::size_t length = 0;
    for (std::size_t k = 0; k < replies.size(); ++k) {
        length = std::max(length, k * offsetBits + replies[k].size() * kBits);
    }
    // The line idles high; a sender's 0 bit wins.
    std::vector<bool> line(length + kBits, true);
    for (std::size_t k = 0; k < replies.size(); ++k) {
        for (std::size_t i = 0; i < replies[k].size(); ++i) {
            const std::size_t start = k * offsetBits + i * kBits;
            line[start] = false;
            for (unsigned b = 0; b < 8; ++b) {
                if (((replies[k][i] >> b) & 1U) == 0) {
                    line[start + 1 + b] = false;
                }
            }
        }
    }
    std::vector<std::uint8_t> received;
    for (std::size_t at = 0; at + kBits <= line.size();) {
        if (line[at]) {
            ++at;
            continue;
        }
        std::uint8_t byte = 0;
        for (unsigned b = 0; b < 8; ++b) {
            byte = static_cast<std::uint8_t>(byte | (line[at + 1 + b] ? 1U << b : 0U));
        }
        const bool framed = line[at + kBits - 1];
        received.push_back(framed ? byte : 0);
        at += kBits - 1;
        while (!framed && at < line.size() && !line[at]) {
            ++at;
        }
    }
    return received;
}

std::vector<Registers> Bus::StoredState() const {
    std::vector<Registers> state;
    for (const auto& module : m_modules) {
        state.push_back(module.Stored());
    }
    return state;
}

namespace {

std::string Hex(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

// Modules a command with an optional leading address acts on.
bool Targets(Bus& bus, const std::vector<std::string>& words, std::vector<Module*>& modules,
             std::string& value) {
    if (words.size() == 2) {
        for (auto& m : bus.Modules()) {
            modules.push_back(&m);
        }
        value = words[1];
        return true;
    }
    if (words.size() == 3) {
        const auto address = ParseNumber(words[1], 255);
        if (!address) {
            return false;
        }
        modules = bus.FindAll(static_cast<std::uint8_t>(*address));
        value = words[2];
        return !modules.empty();
    }
    return false;
}

}  // namespace

std::string RunConsoleCommand(const std::string& line, ConsoleTarget t) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;) {
        words.push_back(w);
    }
    if (words.empty()) {
        return "";
    }
    const std::string& verb = words[0];
    if (verb == "help") {
        return "commands: inputs [ADDR] VALUE | status [ADDR] BITS | faults WORD... | silent on|off | "
               "add [ADDR [BD]] | remove ADDR | restart [ADDR] | show | quit\nok";
    }
    if (verb == "add" && words.size() <= 3) {
        std::optional<unsigned long> address;
        std::optional<std::uint8_t> speedIndex;
        if (words.size() >= 2 && !(address = ParseNumber(words[1], 255))) {
            return "error: bad address '" + words[1] + "'";
        }
        if (words.size() == 3) {
            const auto baud = ParseNumber(words[2], 1'000'000);
            speedIndex = baud ? wire::SpeedIndex(static_cast<std::uint32_t>(*baud)) : std::nullopt;
            if (!speedIndex) {
                return "error: bad line speed '" + words[2] + "'";
            }
        }
        const Module& added = t.bus.Add(
            address ? std::optional<std::uint8_t>(static_cast<std::uint8_t>(*address)) : std::nullopt,
            speedIndex);
        if (t.busChanged != nullptr) {
            *t.busChanged = true;
        }
        return "module " + std::to_string(added.Address()) + " at " +
               std::to_string(wire::kSpeeds[added.SpeedIndex()]) + " Bd connected\nok";
    }
    if (verb == "remove" && words.size() == 2) {
        const auto address = ParseNumber(words[1], 255);
        // The state file names at least one module.
        if (t.bus.Modules().size() == 1) {
            return "error: the last module stays on the bus";
        }
        if (!address || !t.bus.Remove(static_cast<std::uint8_t>(*address))) {
            return "error: no module at '" + words[1] + "'";
        }
        if (t.busChanged != nullptr) {
            *t.busChanged = true;
        }
        return "ok";
    }
    if (verb == "restart" && words.size() <= 2) {
        std::vector<Module*> modules;
        if (words.size() == 2) {
            const auto address = ParseNumber(words[1], 255);
            if (address) {
                modules = t.bus.FindAll(static_cast<std::uint8_t>(*address));
            }
            if (modules.empty()) {
                return "error: no module at '" + words[1] + "'";
            }
        } else {
            for (auto& m : t.bus.Modules()) {
                modules.push_back(&m);
            }
        }
        std::ostringstream out;
        for (Module* m : modules) {
            m->Restart();
            out << "module " << unsigned{m->Address()} << " at " << wire::kSpeeds[m->SpeedIndex()]
                << " Bd restarted\n";
        }
        if (t.busChanged != nullptr) {
            *t.busChanged = true;
        }
        return out.str() + "ok";
    }
    if (verb == "quit" || verb == "exit") {
        t.quit = true;
        return "ok";
    }
    if (verb == "show") {
        std::ostringstream out;
        for (const auto& m : t.bus.Modules()) {
            out << "module " << unsigned{m.Address()} << ": " << wire::kSpeeds[m.SpeedIndex()]
                << " Bd, inputs " << Hex(m.InputPins(), 2) << ", outputs " << Hex(m.Outputs(), 2) << " (pins "
                << Hex(m.OutputPins(), 2) << "), pwm " << m.Pwm() << ", status " << Hex(m.Status(), 8)
                << ", registers";
            for (const auto number : kRegisterNumbers) {
                out << ' ' << unsigned{number} << '=' << unsigned{m.Stored().Get(number)};
            }
            out << '\n';
        }
        out << "faults " << Describe(t.faults.Rates()) << (t.silent ? ", silent" : "") << "\nok";
        return out.str();
    }
    if (verb == "silent" && words.size() == 2 && (words[1] == "on" || words[1] == "off")) {
        t.silent = words[1] == "on";
        return "ok";
    }
    if (verb == "faults" && words.size() >= 2) {
        FaultRates rates = t.faults.Rates();
        std::string why;
        for (std::size_t i = 1; i < words.size(); ++i) {
            if (!ParseFaultWord(words[i], rates, &why)) {
                return "error: " + why;
            }
        }
        if (rates.Total() > 1.0 + 1e-9) {
            return "error: fault probabilities add up to more than 1";
        }
        t.faults.SetRates(rates);
        return "ok";
    }
    if (verb == "inputs" || verb == "status") {
        std::vector<Module*> modules;
        std::string text;
        if (!Targets(t.bus, words, modules, text)) {
            return "error: usage: " + verb + " [ADDR] VALUE, with ADDR a module on the bus";
        }
        const auto value = ParseNumber(text, verb == "inputs" ? 0xFFUL : 0xFFFFFFFFUL);
        if (!value) {
            return "error: bad value '" + text + "'";
        }
        for (Module* m : modules) {
            if (verb == "inputs") {
                m->SetInputs(static_cast<std::uint8_t>(*value));
            } else {
                m->RaiseStatus(static_cast<std::uint32_t>(*value));
            }
        }
        return "ok";
    }
    return "error: unknown command '" + line + "' (try help)";
}

}  // namespace sim
