#include "Poller.h"

#include <algorithm>

#include "CtlConnection.h"
#include "Log.h"
#include "core/Cp1250.h"
#include "core/IntText.h"
#include "link/Txxx318.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::duration_cast;
using std::chrono::microseconds;

constexpr uint8_t kCmdReadInputs = 0;
constexpr uint8_t kCmdWrite = 1;
constexpr uint8_t kCmdReadStatus = 100;
constexpr uint8_t kIndexOutputs = 64;
constexpr auto kSilentRetry = std::chrono::seconds(1);

// A transaction's status as the Modbus exception of a write.
uint8_t WriteException(uint8_t status) {
    switch (status) {
        case 0:
            return 0;
        case 11:
            return kExTargetSilent;
        case 23:  // the module refused the value
            return kExIllegalValue;
        default:
            return kExDeviceFailure;
    }
}

// How long one transaction may take at most: the driver's wait in the
// standard mode (docs/protocol.md).
microseconds TransactionLimit(const TData& data) {
    if (data.Kind == kKindLan && data.UdpTimeout != 0) return std::chrono::milliseconds(data.UdpTimeout);
    const uint8_t index = IndexFromSpeed(data.Speed);
    const int64_t lineUs = 270LL * 1000000 / SpeedFromIndex(index);
    return microseconds(lineUs + 2000LL * SpeedConfigValue(index) + 10000);
}

}  // namespace

TPoller::TPoller(const TConnectionOverrides& connection, std::vector<TGatewayLine> lines, uint32_t pollMs)
    : m_lines(std::move(lines)), m_pollMs(pollMs) {
    m_index.fill(-1);
    for (std::size_t l = 0; l < m_lines.size(); ++l) {
        TData data;
        SetDefaults(&data);
        if (connection.kind) data.Kind = *connection.kind;
        if (connection.udpTimeout) data.UdpTimeout = *connection.udpTimeout;
        if (connection.speed) data.Speed = *connection.speed;
        ApplyTarget(data, m_lines[l].target);
        m_data.push_back(data);
        m_transactionLimit = std::max(m_transactionLimit, TransactionLimit(data));
        TLineMetrics metrics;
        metrics.name = m_lines[l].name;
        m_lineMetrics.push_back(metrics);
        m_lineBusy.emplace_back(0);
        for (const uint8_t address : m_lines[l].target.addresses) {
            TModule module;
            module.m.address = address;
            module.m.line = m_lines[l].name;
            module.line = l;
            m_index[address] = static_cast<int16_t>(m_modules.size());
            m_modules.push_back(module);
        }
    }
}

TPoller::~TPoller() { Stop(); }

void TPoller::Start() {
    m_thread = std::thread([this] { Run(); });
}

void TPoller::Stop() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) m_thread.join();
    CloseOpenLine();
    std::deque<TJob> left;
    {
        std::lock_guard lock(m_mutex);
        left.swap(m_jobs);
    }
    for (TJob& job : left) job.done(kExPathUnavailable);
}

bool TPoller::View(uint8_t address, TModuleView& view) {
    const int16_t i = m_index[address];
    if (i < 0) return false;
    std::lock_guard lock(m_mutex);
    const TModule& module = m_modules[static_cast<std::size_t>(i)];
    view = module.m.view;
    view.fresh = module.m.up && Clock::now() - module.sampled <= MaxAge();
    return true;
}

void TPoller::Submit(uint8_t address, TWriteRequest request, std::function<void(uint8_t)> done) {
    {
        std::lock_guard lock(m_mutex);
        if (!m_stop && m_index[address] >= 0) {
            m_jobs.push_back({address, std::move(request), std::move(done)});
            m_wake.notify_all();
            return;
        }
    }
    done(kExPathUnavailable);
}

void TPoller::Snapshot(std::vector<TModuleMetrics>& modules, std::vector<TLineMetrics>& lines) {
    std::lock_guard lock(m_mutex);
    modules.clear();
    for (const TModule& module : m_modules) modules.push_back(module.m);
    lines = m_lineMetrics;
}

std::chrono::microseconds TPoller::MaxAge() const {
    // A sample is as old as a cycle at most, and a read may come while the
    // next one's transaction runs.
    const microseconds period =
        std::max<microseconds>(std::chrono::milliseconds(m_pollMs.load()), microseconds(m_cycleUs.load()));
    return period + m_transactionLimit;
}

bool TPoller::UseLine(std::size_t line) {
    if (m_openLine == static_cast<int>(line)) return true;
    CloseOpenLine();
    TData& data = m_data[line];
    const TLinkOutcome outcome = OpenLink(data, kStandardMode);
    if (outcome.code != 0) {
        if (m_lineMetrics[line].polls == 0 || data.StatusText != outcome.text) {
            Log(TPriority::Error, "line " + m_lines[line].name + ": " + Cp1250ToUtf8(outcome.text));
        }
        data.StatusText = outcome.text;
        return false;
    }
    if (!data.StatusText.empty()) Log(TPriority::Info, "line " + m_lines[line].name + " open");
    data.StatusText.clear();
    m_openLine = static_cast<int>(line);
    return true;
}

void TPoller::CloseOpenLine() {
    if (m_openLine < 0) return;
    CloseLink(m_data[static_cast<std::size_t>(m_openLine)]);
    m_openLine = -1;
}

uint8_t TPoller::Transact(TModule& module, uint8_t command, uint8_t index, uint8_t (&d)[5]) {
    const TData& data = m_data[module.line];
    TCellBlock reply{};
    // A closed line leaves the status untouched: it must not read as done.
    uint8_t status = kResultNotBound;
    const auto start = Clock::now();
    ModuleTransaction(data.Kind, data.Handle, module.m.address, command, index, d[0], d[1], d[2], d[3], d[4],
                      status, reply);
    const auto took = duration_cast<microseconds>(Clock::now() - start);
    m_lineBusy[module.line] += took;
    const double seconds = static_cast<double>(took.count()) / 1e6;
    std::lock_guard lock(m_mutex);
    ++module.m.outcomes[static_cast<std::size_t>(Classify(status))];
    if (status == 0) {
        std::size_t bucket = 0;
        while (bucket < kRoundTripBuckets.size() && seconds > kRoundTripBuckets[bucket]) ++bucket;
        ++module.m.roundTripBuckets[bucket];
        module.m.roundTripSum += seconds;
    }
    return status;
}

void TPoller::MarkDown(TModule& module) {
    std::lock_guard lock(m_mutex);
    if (module.m.up || !module.polled)
        Log(TPriority::Warning, "module " + IntToStr(module.m.address) + " does not answer");
    module.polled = true;
    module.m.up = false;
    module.m.view.fresh = false;
}

void TPoller::Poll(TModule& module) {
    uint8_t inputs[5]{};
    if (Transact(module, kCmdReadInputs, kIndexOutputs, inputs) != 0) return MarkDown(module);
    uint8_t status[5]{};
    if (Transact(module, kCmdReadStatus, 0, status) != 0) return MarkDown(module);
    bool cameUp = false;
    {
        std::lock_guard lock(m_mutex);
        module.m.view.inputs = inputs[1];
        module.m.view.status = static_cast<uint32_t>(status[1]) | static_cast<uint32_t>(status[2]) << 8 |
                               static_cast<uint32_t>(status[3]) << 16 |
                               static_cast<uint32_t>(status[4]) << 24;
        module.sampled = Clock::now();
        cameUp = !module.m.up;
        module.polled = true;
        module.m.up = true;
        module.m.view.fresh = true;
    }
    if (cameUp) {
        Log(TPriority::Info, "module " + IntToStr(module.m.address) + " answers");
        ReadConfig(module);
    }
}

void TPoller::ReadConfig(TModule& module) {
    // Stored settings change only by writes; they are read when the module
    // comes up and kept as written through the gateway.
    for (std::size_t slot = 0; slot < kConfigRegisters.size(); ++slot) {
        const uint8_t reg = kConfigRegisters[slot];
        uint8_t d[5]{0, reg, reg, 0, 0};
        if (Transact(module, kCmdReadRegister, 0, d) != 0) continue;
        std::lock_guard lock(m_mutex);
        module.m.view.config[slot] = d[3];
    }
}

uint8_t TPoller::RunJob(TModule& module, const TWriteRequest& request) {
    switch (request.kind) {
        case TWriteRequest::TKind::Outputs: {
            std::optional<uint8_t> base;
            {
                std::lock_guard lock(m_mutex);
                // Before the first write the outputs are the module's
                // initial state, as far as the gateway knows.
                base = module.m.view.outputs ? module.m.view.outputs : module.m.view.config[0];
            }
            if (!base && request.mask != 0xFF) return kExDeviceFailure;
            const uint8_t value = static_cast<uint8_t>((base.value_or(0) & ~request.mask) | request.values);
            uint8_t d[5]{0, value, 0, 0, 0};
            const uint8_t status = Transact(module, kCmdWrite, kIndexOutputs, d);
            if (status == 0) {
                std::lock_guard lock(m_mutex);
                module.m.view.outputs = value;
            }
            return WriteException(status);
        }
        case TWriteRequest::TKind::Pwm: {
            uint8_t d[5]{0, static_cast<uint8_t>(request.pwm & 0xFF), static_cast<uint8_t>(request.pwm >> 8),
                         0, 0};
            const uint8_t status = Transact(module, kCmdWrite, 0, d);
            if (status == 0) {
                std::lock_guard lock(m_mutex);
                module.m.view.pwm = request.pwm;
            }
            return WriteException(status);
        }
        case TWriteRequest::TKind::Config:
            for (const auto& [reg, value] : request.registers) {
                uint8_t d[5]{0, reg, reg, value, value};
                const uint8_t status = Transact(module, kCmdWriteRegister, 0, d);
                if (status != 0) return WriteException(status);
                std::lock_guard lock(m_mutex);
                module.m.view.config[static_cast<std::size_t>(ConfigSlot(reg))] = value;
            }
            return 0;
    }
    return kExDeviceFailure;
}

void TPoller::RunJobs() {
    while (true) {
        TJob job;
        {
            std::lock_guard lock(m_mutex);
            if (m_jobs.empty() || m_stop) return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        TModule& module = m_modules[static_cast<std::size_t>(m_index[job.address])];
        uint8_t exception = kExTargetSilent;
        if (UseLine(module.line)) exception = RunJob(module, job.request);
        job.done(exception);
    }
}

void TPoller::Run() {
    auto next = Clock::now();
    while (true) {
        const auto cycleStart = Clock::now();
        for (std::size_t l = 0; l < m_lines.size(); ++l) {
            m_lineBusy[l] = microseconds(0);
            const auto lineStart = Clock::now();
            // A write between two polls may have taken the driver to another
            // line; a line that failed to open is not tried again this cycle.
            bool failed = false;
            for (TModule& module : m_modules) {
                if (module.line != l) continue;
                RunJobs();
                {
                    std::lock_guard lock(m_mutex);
                    if (m_stop) return;
                }
                // A silent module would cost every cycle its time-out: it is
                // asked again once a second, so the others keep their rate.
                if (module.polled && !module.m.up && Clock::now() - module.tried < kSilentRetry) continue;
                module.tried = Clock::now();
                if (!failed && UseLine(l)) {
                    Poll(module);
                } else {
                    failed = true;
                    MarkDown(module);
                }
            }
            const auto lineEnd = Clock::now();
            std::lock_guard lock(m_mutex);
            TLineMetrics& metrics = m_lineMetrics[l];
            metrics.cycleSeconds = std::chrono::duration<double>(lineEnd - lineStart).count();
            ++metrics.polls;
        }
        m_cycleUs = duration_cast<microseconds>(Clock::now() - cycleStart).count();
        next = std::max(next + std::chrono::milliseconds(m_pollMs.load()), Clock::now());
        std::unique_lock lock(m_mutex);
        while (!m_stop && Clock::now() < next) {
            if (!m_jobs.empty()) {
                lock.unlock();
                RunJobs();
                lock.lock();
                continue;
            }
            m_wake.wait_until(lock, next);
        }
        if (m_stop) return;
        // Rate and share of the line's time over the whole cycle, the wait
        // included.
        const double wall = std::chrono::duration<double>(Clock::now() - cycleStart).count();
        for (std::size_t l = 0; l < m_lines.size(); ++l) {
            m_lineMetrics[l].pollsPerSecond = wall > 0 ? 1.0 / wall : 0;
            m_lineMetrics[l].busyRatio =
                wall > 0 ? std::min(1.0, static_cast<double>(m_lineBusy[l].count()) / 1e6 / wall) : 0;
        }
    }
}
