#include "Faults.h"

#include <cstdlib>
#include <sstream>

namespace sim {

FaultRates FaultRates::Even(double total) {
    const double each = total / 5;
    return {each, each, each, each, each};
}

bool ParseFaultWord(const std::string& word, FaultRates& rates, std::string* error) {
    if (word == "off") {
        rates = {};
        return true;
    }
    const auto eq = word.find('=');
    if (eq == std::string::npos) {
        if (error != nullptr) {
            *error = "expected kind=probability, got '" + word + "'";
        }
        return false;
    }
    const std::string kind = word.substr(0, eq);
    const std::string text = word.substr(eq + 1);
    char* end = nullptr;
    const double p = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(p >= 0 && p <= 1)) {
        if (error != nullptr) {
            *error = "probability must be 0..1, got '" + text + "'";
        }
        return false;
    }
    const std::pair<const char*, double FaultRates::*> kinds[] = {
        {"drop", &FaultRates::drop},
        {"corrupt", &FaultRates::corrupt},
        {"delay", &FaultRates::delay},
        {"wrong", &FaultRates::wrongAddress},
        {"wrong-address", &FaultRates::wrongAddress},
        {"noise", &FaultRates::noise},
    };
    for (const auto& [name, member] : kinds) {
        if (kind == name) {
            rates.*member = p;
            return true;
        }
    }
    if (kind == "all") {
        rates = FaultRates::Even(p);
        return true;
    }
    if (error != nullptr) {
        *error = "unknown fault kind '" + kind + "'";
    }
    return false;
}

std::string Describe(const FaultRates& r) {
    std::ostringstream out;
    out << "drop=" << r.drop << " corrupt=" << r.corrupt << " delay=" << r.delay
        << " wrong=" << r.wrongAddress << " noise=" << r.noise;
    return out.str();
}

Fault FaultInjector::Pick() {
    const double u = std::uniform_real_distribution<double>(0, 1)(m_random);
    double edge = 0;
    const std::pair<double, Fault> order[] = {
        {m_rates.drop, Fault::Drop},   {m_rates.corrupt, Fault::Corrupt},
        {m_rates.delay, Fault::Delay}, {m_rates.wrongAddress, Fault::WrongAddress},
        {m_rates.noise, Fault::Noise},
    };
    for (const auto& [p, fault] : order) {
        edge += p;
        if (u < edge) {
            return fault;
        }
    }
    return Fault::None;
}

void FaultInjector::Corrupt(std::span<std::uint8_t> frame) {
    if (frame.empty()) {
        return;
    }
    const auto byte = std::uniform_int_distribution<std::size_t>(0, frame.size() - 1)(m_random);
    const auto bit = std::uniform_int_distribution<int>(0, 7)(m_random);
    frame[byte] = static_cast<std::uint8_t>(frame[byte] ^ (1U << bit));
}

std::vector<std::uint8_t> FaultInjector::Noise() {
    const auto count = std::uniform_int_distribution<std::size_t>(1, 16)(m_random);
    std::vector<std::uint8_t> bytes(count);
    std::uniform_int_distribution<int> value(0, 255);
    for (auto& b : bytes) {
        b = static_cast<std::uint8_t>(value(m_random));
    }
    return bytes;
}

}  // namespace sim
