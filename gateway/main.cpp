// rq905-gateway: serves RQ-905 modules over Modbus TCP and exports their
// health to Prometheus. A daemon for systemd: it logs to standard error,
// reloads on SIGHUP, ends on SIGTERM, and never forks.
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>

#include "GatewayOptions.h"
#include "Log.h"
#include "Metrics.h"
#include "ModbusServer.h"
#include "Poller.h"

namespace {

// Options: the configuration file first, the command line over it.
bool LoadOptions(const std::vector<std::string>& args, TGatewayOptions& options, std::string& error) {
    TGatewayOptions fromArgs;
    if (!ParseGatewayArgs(args, fromArgs, error)) return false;
    options = TGatewayOptions{};
    if (fromArgs.configPath) {
        std::ifstream in(*fromArgs.configPath, std::ios::binary);
        if (!in) {
            error = "cannot read " + *fromArgs.configPath;
            return false;
        }
        std::ostringstream text;
        text << in.rdbuf();
        if (!ParseGatewayConfig(text.str(), options, error)) {
            error = *fromArgs.configPath + ": " + error;
            return false;
        }
    }
    return ParseGatewayArgs(args, options, error);
}

bool SameLines(const std::vector<TGatewayLine>& a, const std::vector<TGatewayLine>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].name != b[i].name || a[i].target.addresses != b[i].target.addresses) return false;
    }
    return true;
}

bool SameConnection(const TConnectionOverrides& a, const TConnectionOverrides& b) {
    return a.speed == b.speed && a.udpTimeout == b.udpTimeout;
}

class TGateway {
  public:
    bool Configure(const TGatewayOptions& options, bool first) {
        std::vector<TGatewayLine> lines;
        std::string error;
        if (!ResolveLines(options, lines, error)) {
            Log(TPriority::Error, error);
            return false;
        }
        if (!m_modbus.Listen(options.modbus, error)) {
            Log(TPriority::Error, error);
            if (first) return false;
        }
        m_modbus.SetPermissions({options.allowWrite, options.allowConfig}, options.allowFrom);
        if (first || !SameLines(lines, m_poller->Lines()) ||
            !SameConnection(options.connection, m_connection)) {
            // Clients stay connected; a module that is gone answers
            // exception 10 from now on.
            auto poller = std::make_shared<TPoller>(options.connection, lines, options.pollMs);
            if (m_poller) m_poller->Stop();
            poller->Start();
            {
                std::lock_guard lock(m_mutex);
                m_poller = poller;
            }
            m_modbus.SetSource(poller);
            std::size_t modules = 0;
            for (const auto& line : lines) modules += line.target.addresses.size();
            Log(TPriority::Info, "polling " + std::to_string(modules) + " modules on " +
                                     std::to_string(lines.size()) + " line(s) every " +
                                     std::to_string(options.pollMs) + " ms");
        } else {
            m_poller->SetPollMs(options.pollMs);
        }
        m_connection = options.connection;
        if (options.metrics != m_metricsListen) {
            m_metrics.Stop();
            m_metricsListen.reset();
            if (options.metrics) {
                if (!m_metrics.Start(*options.metrics, error)) {
                    Log(TPriority::Error, error);
                    if (first) return false;
                } else {
                    m_metricsListen = options.metrics;
                }
            }
        }
        return true;
    }

    void Run(int signalFd, const std::vector<std::string>& args) {
        while (true) {
            bool signalled = false;
            m_modbus.RunOnce(1000, signalFd, signalled);
            if (!signalled) continue;
            signalfd_siginfo info{};
            if (::read(signalFd, &info, sizeof info) != sizeof info) continue;
            if (info.ssi_signo != SIGHUP) break;
            TGatewayOptions options;
            std::string error;
            if (!LoadOptions(args, options, error)) {
                Log(TPriority::Error, "reload: " + error + "; keeping the configuration");
                continue;
            }
            Log(TPriority::Info, "reloading the configuration");
            Configure(options, false);
        }
        Log(TPriority::Info, "stopping");
        m_metrics.Stop();
        if (m_poller) m_poller->Stop();
    }

  private:
    std::string Render() {
        std::shared_ptr<TPoller> poller;
        {
            std::lock_guard lock(m_mutex);
            poller = m_poller;
        }
        std::vector<TModuleMetrics> modules;
        std::vector<TLineMetrics> lines;
        if (poller) poller->Snapshot(modules, lines);
        return MetricsText(modules, lines, {m_modbus.Clients(), m_modbus.Requests(), m_modbus.Exceptions()});
    }

    TModbusServer m_modbus;
    std::mutex m_mutex;
    std::shared_ptr<TPoller> m_poller;
    TConnectionOverrides m_connection;
    TMetricsServer m_metrics{[this] { return Render(); }};
    std::optional<TListen> m_metricsListen;
};

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    TGatewayOptions options;
    std::string error;
    if (!LoadOptions(args, options, error)) {
        std::fprintf(stderr, "rq905-gateway: %s\n%s", error.c_str(), "Try rq905-gateway --help.\n");
        return 2;
    }
    if (options.help) {
        std::fputs(GatewayHelpText().c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("rq905-gateway %s\n", RQ905_VERSION);
        return 0;
    }
    // The signals arrive through a descriptor of the Modbus loop, on no
    // other thread.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGHUP);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    const int signalFd = ::signalfd(-1, &signals, SFD_CLOEXEC);

    auto gateway = std::make_unique<TGateway>();
    if (!gateway->Configure(options, true)) return 1;
    Log(TPriority::Notice, std::string("rq905-gateway ") + RQ905_VERSION + " ready" +
                               (options.allowWrite ? ", writes allowed" : ", read only"));
    gateway->Run(signalFd, args);
    gateway.reset();
    return 0;
}
