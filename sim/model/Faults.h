// Fault injection: each reply may be dropped, corrupted, delayed, sent from
// another address, or preceded by line noise, each with its own
// probability. A seed makes a run repeatable.
#pragma once

#include <cstdint>
#include <random>
#include <span>
#include <string>
#include <vector>

namespace sim {

enum class Fault { None, Drop, Corrupt, Delay, WrongAddress, Noise };

struct FaultRates {
    double drop = 0;
    double corrupt = 0;
    double delay = 0;
    double wrongAddress = 0;
    double noise = 0;
    double Total() const { return drop + corrupt + delay + wrongAddress + noise; }
    // One total split evenly among the five kinds.
    static FaultRates Even(double total);
};

// Parses "drop=0.1 corrupt=0.05 ..." words (also "off"); false with a reason.
bool ParseFaultWord(const std::string& word, FaultRates& rates, std::string* error);
std::string Describe(const FaultRates& rates);

class FaultInjector {
  public:
    FaultInjector(FaultRates rates, std::uint64_t seed) : m_rates(rates), m_random(seed) {}

    void SetRates(const FaultRates& rates) { m_rates = rates; }
    const FaultRates& Rates() const { return m_rates; }

    Fault Pick();
    // Flips one bit somewhere in the frame.
    void Corrupt(std::span<std::uint8_t> frame);
    // One to sixteen random bytes.
    std::vector<std::uint8_t> Noise();

  private:
    FaultRates m_rates;
    std::mt19937_64 m_random;
};

}  // namespace sim
