// The poll thread: it alone calls the interface library layer, whose one
// bound library and synchronous transactions allow no other way. It polls
// every module's inputs and status register in turn, keeps what it read in
// a cache for the Modbus and metrics sides, and runs the writes they
// queue between two transactions, before the next poll. Several lines
// share the one driver: a line is opened when its turn comes and stays
// open until another line's turn, so a single line is opened once.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "GatewayOptions.h"
#include "LinkStats.h"
#include "ModbusMap.h"
#include "core/Dekl.h"

// Upper bounds of the round-trip histogram, in seconds.
inline constexpr std::array<double, 10> kRoundTripBuckets{0.001, 0.002, 0.005, 0.01, 0.02,
                                                          0.05,  0.1,   0.2,   0.5,  1.0};

struct TModuleMetrics {
    uint8_t address = 0;
    std::string line;
    bool up = false;
    TModuleView view;  // fresh is the module's up here
    std::array<uint64_t, kOutcomeCount> outcomes{};
    std::array<uint64_t, kRoundTripBuckets.size() + 1> roundTripBuckets{};  // last: above every bound
    double roundTripSum = 0;
};

struct TLineMetrics {
    std::string name;
    uint64_t polls = 0;         // completed poll cycles
    double pollsPerSecond = 0;  // of the last cycle
    double busyRatio = 0;       // share of the last cycle spent in transactions
    double cycleSeconds = 0;    // the last cycle's polling, without the wait
};

// The module source of the Modbus side.
class TModuleSource {
  public:
    virtual ~TModuleSource() = default;
    // false: no module at that address.
    virtual bool View(uint8_t address, TModuleView& view) = 0;
    // done gets 0 or the Modbus exception, on the poll thread.
    virtual void Submit(uint8_t address, TWriteRequest request, std::function<void(uint8_t)> done) = 0;
};

class TPoller : public TModuleSource {
  public:
    TPoller(const TConnectionOverrides& connection, std::vector<TGatewayLine> lines, uint32_t pollMs);
    ~TPoller() override;
    TPoller(const TPoller&) = delete;
    TPoller& operator=(const TPoller&) = delete;

    void Start();
    // Ends the thread after its transaction in progress; queued writes get
    // exception 10.
    void Stop();

    bool View(uint8_t address, TModuleView& view) override;
    void Submit(uint8_t address, TWriteRequest request, std::function<void(uint8_t)> done) override;

    void Snapshot(std::vector<TModuleMetrics>& modules, std::vector<TLineMetrics>& lines);
    void SetPollMs(uint32_t ms) { m_pollMs = ms; }
    const std::vector<TGatewayLine>& Lines() const { return m_lines; }

  private:
    struct TModule {
        TModuleMetrics m;
        std::size_t line = 0;
        std::chrono::steady_clock::time_point sampled;
        bool polled = false;  // its first state has been told
        std::chrono::steady_clock::time_point tried;
    };
    struct TJob {
        uint8_t address;
        TWriteRequest request;
        std::function<void(uint8_t)> done;
    };

    void Run();
    bool UseLine(std::size_t line);
    void CloseOpenLine();
    // One transaction; the status, and the statistics counted.
    uint8_t Transact(TModule& module, uint8_t command, uint8_t index, uint8_t (&d)[5]);
    void Poll(TModule& module);
    void ReadConfig(TModule& module);
    void RunJobs();
    uint8_t RunJob(TModule& module, const TWriteRequest& request);
    void MarkDown(TModule& module);
    std::chrono::microseconds MaxAge() const;

    std::vector<TGatewayLine> m_lines;
    std::vector<TData> m_data;  // per line
    std::vector<TLineMetrics> m_lineMetrics;
    std::vector<std::chrono::microseconds> m_lineBusy;
    std::vector<TModule> m_modules;
    std::array<int16_t, 256> m_index;
    std::atomic<uint32_t> m_pollMs;
    std::atomic<int64_t> m_cycleUs{0};
    std::chrono::microseconds m_transactionLimit{0};  // the slowest line's
    int m_openLine = -1;

    std::mutex m_mutex;  // the cache and the queue
    std::condition_variable m_wake;
    std::deque<TJob> m_jobs;
    bool m_stop = false;
    std::thread m_thread;
};
