// /metrics in Prometheus' text format: the modules and lines of the poll
// cache, and the Modbus side. Names follow Prometheus' rules: rq905_
// prefix, base units, _total for counters, labels for what varies.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "GatewayOptions.h"
#include "Poller.h"

struct TServerCounts {
    std::size_t clients = 0;
    uint64_t requests = 0;
    uint64_t exceptions = 0;
};

std::string MetricsText(const std::vector<TModuleMetrics>& modules, const std::vector<TLineMetrics>& lines,
                        const TServerCounts& server);

namespace httplib {
class Server;
}

// The HTTP server on a thread of its own; it asks for a scrape's data.
class TMetricsServer {
  public:
    using TRender = std::function<std::string()>;
    explicit TMetricsServer(TRender render);
    ~TMetricsServer();
    TMetricsServer(const TMetricsServer&) = delete;
    TMetricsServer& operator=(const TMetricsServer&) = delete;
    bool Start(const TListen& listen, std::string& error);
    void Stop();
    const TListen& Listening() const { return m_listen; }

  private:
    TRender m_render;
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    TListen m_listen;
};
