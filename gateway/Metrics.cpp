#include "Metrics.h"

#include <httplib.h>

#include <charconv>
#include <chrono>

#include "Log.h"

namespace {

// Status register bits by name (docs/protocol.md).
struct TStatusFlag {
    const char* name;
    int bit;
};
constexpr TStatusFlag kStatusFlags[] = {{"fn", 1}, {"prf", 2}, {"pwr", 4}, {"rst", 5}, {"err24", 6}};

// The shortest text that reads back as the same double.
std::string Number(double value) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

std::string LabelValue(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\\' || c == '"') out.push_back('\\');
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out.push_back(c);
    }
    return out;
}

class TWriter {
  public:
    void Family(const char* name, const char* type, const char* help) {
        m_text += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
    }
    void Sample(const std::string& name, const std::string& labels, double value) {
        m_text += name;
        if (!labels.empty()) m_text += "{" + labels + "}";
        m_text += " " + Number(value) + "\n";
    }
    std::string Take() { return std::move(m_text); }

  private:
    std::string m_text;
};

std::string ModuleLabels(const TModuleMetrics& m) {
    return "line=\"" + LabelValue(m.line) + "\",address=\"" + std::to_string(m.address) + "\"";
}

}  // namespace

std::string MetricsText(const std::vector<TModuleMetrics>& modules, const std::vector<TLineMetrics>& lines,
                        const TServerCounts& server) {
    TWriter w;
    w.Family("rq905_module_up", "gauge", "Whether the module answered its last poll (1) or not (0).");
    for (const auto& m : modules) w.Sample("rq905_module_up", ModuleLabels(m), m.up ? 1 : 0);

    w.Family("rq905_module_input", "gauge", "Digital input DINn as the last poll read it.");
    for (const auto& m : modules) {
        if (!m.up) continue;
        for (int i = 0; i < 8; ++i)
            w.Sample("rq905_module_input", ModuleLabels(m) + ",input=\"" + std::to_string(i) + "\"",
                     (m.view.inputs >> i) & 1);
    }
    w.Family("rq905_module_output", "gauge",
             "Digital output DOUTn as the gateway last wrote it; absent before the first write.");
    for (const auto& m : modules) {
        if (!m.view.outputs) continue;
        for (int i = 0; i < 8; ++i)
            w.Sample("rq905_module_output", ModuleLabels(m) + ",output=\"" + std::to_string(i) + "\"",
                     (*m.view.outputs >> i) & 1);
    }
    w.Family("rq905_module_pwm_value", "gauge",
             "PWM output value (0-65535) as the gateway last wrote it; absent before the first write.");
    for (const auto& m : modules) {
        if (m.view.pwm) w.Sample("rq905_module_pwm_value", ModuleLabels(m), *m.view.pwm);
    }
    w.Family("rq905_module_status_register", "gauge", "The module's 32-bit status register.");
    for (const auto& m : modules) {
        if (m.up) w.Sample("rq905_module_status_register", ModuleLabels(m), m.view.status);
    }
    w.Family("rq905_module_status_flag", "gauge", "A named bit of the status register.");
    for (const auto& m : modules) {
        if (!m.up) continue;
        for (const TStatusFlag& f : kStatusFlags)
            w.Sample("rq905_module_status_flag", ModuleLabels(m) + ",flag=\"" + f.name + "\"",
                     (m.view.status >> f.bit) & 1);
    }
    w.Family("rq905_module_transactions_total", "counter", "Transactions with the module by outcome.");
    for (const auto& m : modules) {
        for (int o = 0; o < kOutcomeCount; ++o)
            w.Sample("rq905_module_transactions_total",
                     ModuleLabels(m) + ",outcome=\"" + OutcomeName(static_cast<TOutcome>(o)) + "\"",
                     static_cast<double>(m.outcomes[static_cast<std::size_t>(o)]));
    }
    w.Family("rq905_module_round_trip_seconds", "histogram",
             "Round trip of the module's answered transactions.");
    for (const auto& m : modules) {
        uint64_t cumulative = 0;
        for (std::size_t b = 0; b <= kRoundTripBuckets.size(); ++b) {
            cumulative += m.roundTripBuckets[b];
            const std::string le = b < kRoundTripBuckets.size() ? Number(kRoundTripBuckets[b]) : "+Inf";
            w.Sample("rq905_module_round_trip_seconds_bucket", ModuleLabels(m) + ",le=\"" + le + "\"",
                     static_cast<double>(cumulative));
        }
        w.Sample("rq905_module_round_trip_seconds_sum", ModuleLabels(m), m.roundTripSum);
        w.Sample("rq905_module_round_trip_seconds_count", ModuleLabels(m), static_cast<double>(cumulative));
    }
    w.Family("rq905_line_polls_total", "counter", "Poll cycles over the line's modules.");
    for (const auto& l : lines)
        w.Sample("rq905_line_polls_total", "line=\"" + LabelValue(l.name) + "\"",
                 static_cast<double>(l.polls));
    w.Family("rq905_line_polls_per_second", "gauge", "Poll cycles per second, from the last cycle.");
    for (const auto& l : lines)
        w.Sample("rq905_line_polls_per_second", "line=\"" + LabelValue(l.name) + "\"", l.pollsPerSecond);
    w.Family("rq905_line_busy_ratio", "gauge", "Share of the line's time spent in transactions (0-1).");
    for (const auto& l : lines)
        w.Sample("rq905_line_busy_ratio", "line=\"" + LabelValue(l.name) + "\"", l.busyRatio);
    w.Family("rq905_line_poll_cycle_seconds", "gauge",
             "How long the last poll of all the line's modules took.");
    for (const auto& l : lines)
        w.Sample("rq905_line_poll_cycle_seconds", "line=\"" + LabelValue(l.name) + "\"", l.cycleSeconds);
    w.Family("rq905_modbus_clients", "gauge", "Connected Modbus TCP clients.");
    w.Sample("rq905_modbus_clients", "", static_cast<double>(server.clients));
    w.Family("rq905_modbus_requests_total", "counter", "Modbus requests received.");
    w.Sample("rq905_modbus_requests_total", "", static_cast<double>(server.requests));
    w.Family("rq905_modbus_exceptions_total", "counter", "Modbus requests answered with an exception.");
    w.Sample("rq905_modbus_exceptions_total", "", static_cast<double>(server.exceptions));
    return w.Take();
}

TMetricsServer::TMetricsServer(TRender render) : m_render(std::move(render)) {}

TMetricsServer::~TMetricsServer() { Stop(); }

bool TMetricsServer::Start(const TListen& listen, std::string& error) {
    Stop();
    m_server = std::make_unique<httplib::Server>();
    m_server->Get("/metrics", [this](const httplib::Request&, httplib::Response& response) {
        response.set_content(m_render(), "text/plain; version=0.0.4; charset=utf-8");
    });
    int port = listen.port;
    if (port == 0) {
        port = m_server->bind_to_any_port(listen.host);
    } else if (!m_server->bind_to_port(listen.host, port)) {
        port = -1;
    }
    if (port < 0) {
        error = "cannot listen on " + listen.host + ":" + std::to_string(listen.port);
        m_server.reset();
        return false;
    }
    m_listen = {listen.host, static_cast<uint16_t>(port)};
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    // stop() before the loop runs would find nothing to stop.
    for (int i = 0; i < 2000 && !m_server->is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    Log(TPriority::Info, "metrics listening on " + m_listen.host + ":" + std::to_string(m_listen.port));
    return true;
}

void TMetricsServer::Stop() {
    if (!m_server) return;
    m_server->stop();
    if (m_thread.joinable()) m_thread.join();
    m_server.reset();
}
