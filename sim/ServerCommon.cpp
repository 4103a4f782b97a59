#include "ServerCommon.h"

#include <cstdio>

namespace sim {

namespace {

// Line time of some bytes, to the nanosecond, so that pacing a reply byte by
// byte does not add up rounding.
Clock::duration LineTime(std::size_t bytes, std::uint32_t baud) {
    return std::chrono::nanoseconds(std::uint64_t{bytes} * wire::kBitsPerByte * 1'000'000'000U / baud);
}

// "2025-01-10 14:03:07.123456 ", the local time, as the drivers' trace has it.
std::string TraceTime() {
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count();
    const std::time_t seconds = static_cast<std::time_t>(us / 1'000'000);
    std::tm local{};
    LocalTime(seconds, local);
    char text[48];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(text + n, sizeof text - n, ".%06d ", static_cast<int>(us % 1'000'000));
    return text;
}

}  // namespace

ServerCore::ServerCore(const Options& options, Bus& bus)
    : m_options(options),
      m_bus(bus),
      m_faults(options.faults, options.seed),
      m_patternRandom(static_cast<std::mt19937::result_type>(options.seed + 1)),
      m_collisionRandom(static_cast<std::mt19937::result_type>(options.seed + 2)),
      m_nextPattern(Clock::now() + std::chrono::milliseconds(options.patternMs)) {}

void ServerCore::Trace(const char* direction, bool udp, const Peer& peer, std::span<const std::uint8_t> bytes,
                       const std::string& note) const {
    if (!m_options.trace) {
        return;
    }
    std::string line = TraceTime() + "rq905-sim ";
    if (udp) {
        char address[32];
        std::snprintf(address, sizeof address, "udp %u.%u.%u.%u:%u", peer.address >> 24,
                      (peer.address >> 16) & 0xFFU, (peer.address >> 8) & 0xFFU, peer.address & 0xFFU,
                      unsigned{peer.port});
        line += address;
    } else {
        line += "pty";
    }
    line += ' ';
    line += direction;
    line += ' ';
    wire::AppendHex(line, bytes);
    if (!note.empty()) {
        line += ' ' + note;
    }
    std::printf("%s\n", line.c_str());
}

void ServerCore::Console(std::string_view bytes) {
    for (const auto& line : m_console.Feed(bytes)) {
        bool busChanged = false;
        const std::string answer =
            line.tooLong ? "error: line too long"
                         : RunConsoleCommand(line.text, {m_bus, m_faults, m_silent, m_quit, &busChanged});
        std::string why;
        if (busChanged && !SaveState(m_options.statePath, m_bus.StoredState(), &why)) {
            std::fprintf(stderr, "rq905-sim: %s\n", why.c_str());
        }
        if (!answer.empty()) {
            std::printf("%s\n", answer.c_str());
        }
    }
    std::fflush(stdout);
}

void ServerCore::Process(const wire::Request& request, std::span<const std::uint8_t> received, bool udp,
                         const Peer& peer) {
    if (m_silent) {
        Trace("rx", udp, peer, received, "ignored silent");
        return;
    }
    // Modules left at one address all answer.
    std::vector<Module*> modules = m_bus.FindAll(request.address);
    if (modules.empty()) {
        Trace("rx", udp, peer, received, "ignored address");
        return;
    }
    if (!udp && !m_options.anySpeed) {
        const std::uint32_t lineSpeed = PtyLineSpeed();
        const Module& first = *modules.front();
        std::erase_if(modules, [&](const Module* m) { return wire::kSpeeds[m->SpeedIndex()] != lineSpeed; });
        if (modules.empty()) {
            Trace("rx", udp, peer, received, "ignored speed");
            if (lineSpeed != m_reportedSpeed && !m_options.quiet) {
                std::printf("line set to %u Bd but module %u runs at %u Bd: requests ignored\n", lineSpeed,
                            unsigned{first.Address()}, wire::kSpeeds[first.SpeedIndex()]);
                std::fflush(stdout);
            }
            m_reportedSpeed = lineSpeed;
            return;
        }
    }
    Trace("rx", udp, peer, received, "taken");
    std::vector<wire::Reply> replies;
    for (Module* module : modules) {
        Changes changes;
        replies.push_back(module->Handle(request, &changes));
        Report(*module, changes);
    }
    const std::uint32_t moduleSpeed = wire::kSpeeds[modules.front()->SpeedIndex()];

    // The request's own line time passes before the module has it, then
    // its turnaround; the reply then takes its own line time, byte by
    // byte on the pty, whole at its end over UDP.
    auto due = Clock::now();
    Clock::duration pace{};
    if (m_options.lineTime) {
        due += LineTime(wire::kRequestSize, moduleSpeed) + std::chrono::milliseconds(m_options.turnaroundMs);
        if (udp) {
            due += LineTime(wire::kReplySize, moduleSpeed);
        } else {
            pace = LineTime(1, moduleSpeed);
        }
    }
    std::vector<std::uint8_t> noise;
    std::string note;
    const Fault fault = m_faults.Pick();
    switch (fault) {
        case Fault::Drop:
            for (const auto& reply : replies) {
                Trace("tx", udp, peer, wire::Encode(reply), "dropped");
            }
            return;
        case Fault::Delay:
            due += std::chrono::milliseconds(m_options.delayMs);
            note = "delayed " + std::to_string(m_options.delayMs) + " ms";
            break;
        case Fault::WrongAddress:
            for (auto& reply : replies) {
                reply.address = static_cast<std::uint8_t>(reply.address + 1);
            }
            note = "wrong address";
            break;
        case Fault::Noise:
            noise = m_faults.Noise();
            note = "after noise";
            break;
        default:
            break;
    }
    std::vector<std::vector<std::uint8_t>> frames;
    for (const auto& reply : replies) {
        const auto frame = wire::Encode(reply);
        frames.emplace_back(frame.begin(), frame.end());
    }
    if (!udp && frames.size() > 1) {
        // One line: the modules' replies overlap, each a few bits after
        // the one before, as no two modules turn a request round alike.
        const auto offsetBits = static_cast<unsigned>(m_collisionRandom() % 19 + 1);
        frames = {Collide(frames, offsetBits)};
        note += std::string(note.empty() ? "" : ", ") + "collision of " + std::to_string(replies.size()) +
                " replies " + std::to_string(offsetBits) + " bits apart";
    }
    if (fault == Fault::Corrupt) {
        m_faults.Corrupt(frames.front());
        note = "corrupted";
    }
    if (udp && !noise.empty()) {
        // A stray datagram of a reply's exact size would be taken for
        // the reply, damaged; noise on a LAN is never that polite.
        if (noise.size() == wire::kReplySize) {
            noise.push_back(0);
        }
        m_waiting.push_back({due, udp, peer, std::move(noise), pace, "noise"});
        noise.clear();
    }
    for (std::size_t k = 0; k < frames.size(); ++k) {
        // Over UDP each module's reply is a datagram of its own.
        std::vector<std::uint8_t> bytes = k == 0 ? std::move(noise) : std::vector<std::uint8_t>{};
        bytes.insert(bytes.end(), frames[k].begin(), frames[k].end());
        m_waiting.push_back({due, udp, peer, std::move(bytes), pace, k == 0 ? note : "duplicate"});
    }
    SendDue();
}

void ServerCore::Report(const Module& module, const Changes& changes) {
    // Stored registers persist whether or not anything is printed.
    if (changes.registerWritten) {
        std::string why;
        if (!SaveState(m_options.statePath, m_bus.StoredState(), &why)) {
            std::fprintf(stderr, "rq905-sim: %s\n", why.c_str());
        }
    }
    if (m_options.quiet) {
        return;
    }
    const unsigned address = module.Address();
    if (changes.outputs) {
        std::printf("module %u: outputs 0x%02X (pins 0x%02X)\n", address, unsigned{module.Outputs()},
                    unsigned{module.OutputPins()});
    }
    if (changes.pwm) {
        std::printf("module %u: pwm %u\n", address, unsigned{module.Pwm()});
    }
    if (changes.statusCleared) {
        std::printf("module %u: status cleared\n", address);
    }
    if (changes.registerWritten) {
        const std::uint8_t number = *changes.registerWritten;
        std::printf(
            "module %u: register %u = %u%s\n", address, unsigned{number},
            unsigned{module.Stored().Get(number)},
            number == reg::kBusAddress || number == reg::kSpeedIndex ? ", takes effect at next start" : "");
    }
    std::fflush(stdout);
}

std::optional<Clock::time_point> ServerCore::PatternWake() const {
    if (m_options.pattern == Pattern::Fixed) {
        return std::nullopt;
    }
    return m_nextPattern;
}

void ServerCore::StepPatternIfDue(Clock::time_point now) {
    if (m_options.pattern == Pattern::Fixed || now < m_nextPattern) {
        return;
    }
    m_nextPattern += std::chrono::milliseconds(m_options.patternMs);
    ++m_patternStep;
    std::uint8_t pins = 0;
    switch (m_options.pattern) {
        case Pattern::Walk:
            pins = static_cast<std::uint8_t>(1U << (m_patternStep % 8));
            break;
        case Pattern::Count:
            pins = static_cast<std::uint8_t>(m_patternStep);
            break;
        case Pattern::Random:
            pins = static_cast<std::uint8_t>(m_patternRandom());
            break;
        case Pattern::Fixed:
            return;
    }
    for (auto& module : m_bus.Modules()) {
        module.SetInputs(pins);
    }
}

}  // namespace sim
