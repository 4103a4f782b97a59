#include "Bus.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace sim {

Bus::Bus(const std::vector<Registers>& stored, const Identity& identity) {
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

std::vector<Registers> Bus::StoredState() const {
    std::vector<Registers> state;
    for (const auto& module : m_modules) {
        state.push_back(module.Stored());
    }
    return state;
}

namespace {

std::optional<unsigned long> Number(const std::string& text, unsigned long max) {
    if (text.empty() || text[0] == '-') {
        return std::nullopt;
    }
    char* end = nullptr;
    const unsigned long value = std::strtoul(text.c_str(), &end, 0);
    if (*end != '\0' || value > max) {
        return std::nullopt;
    }
    return value;
}

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
        const auto address = Number(words[1], 255);
        Module* m = address ? bus.Find(static_cast<std::uint8_t>(*address)) : nullptr;
        if (m == nullptr) {
            return false;
        }
        modules.push_back(m);
        value = words[2];
        return true;
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
        return "commands: inputs [ADDR] VALUE | status [ADDR] BITS | faults WORD... | silent on|off | show | "
               "quit\nok";
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
        const auto value = Number(text, verb == "inputs" ? 0xFFUL : 0xFFFFFFFFUL);
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
