// The Modbus TCP side: libmodbus' own server pattern, a select() loop over
// the listening socket and the clients, modbus_receive() and then
// modbus_reply() or modbus_reply_exception(). Reads are answered at once
// from the poll cache; a write goes to the poll thread, and its client is
// not read again until the module's status came back, while the loop goes
// on serving the others. Each round takes at most one request from each
// ready client, so no client can crowd out another.
#pragma once

#include <modbus/modbus.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "GatewayOptions.h"
#include "ModbusMap.h"
#include "Poller.h"

class TModbusServer {
  public:
    TModbusServer();
    ~TModbusServer();
    TModbusServer(const TModbusServer&) = delete;
    TModbusServer& operator=(const TModbusServer&) = delete;

    // Opens the listening socket; false with a reason when it cannot.
    bool Listen(const TListen& listen, std::string& error);
    const TListen& Listening() const { return m_listen; }
    void SetSource(std::shared_ptr<TModuleSource> source) { m_source = std::move(source); }
    void SetPermissions(const TPermissions& allowed, const std::vector<TCidr>& allowFrom) {
        m_allowed = allowed;
        m_allowFrom = allowFrom;
    }

    // One round of the loop: waits up to timeoutMs for the sockets and
    // extraFd (a signal descriptor; true in extraReady when it became
    // readable), and serves what is ready.
    void RunOnce(int timeoutMs, int extraFd, bool& extraReady);

    // Serves one request waiting on a client socket, as the loop does; a
    // client the loop does not know is taken on. False when the client
    // was closed.
    bool ServeClient(int fd);
    std::size_t Clients() const { return m_clientCount; }
    uint64_t Requests() const { return m_requests; }
    uint64_t Exceptions() const { return m_exceptions; }

  private:
    struct TClient {
        uint64_t id = 0;
        bool waiting = false;  // a write is with the poll thread
    };
    struct TDone {
        int fd;
        uint64_t id;
        std::vector<uint8_t> query;
        uint8_t exception;
    };

    void Accept();
    void Close(int fd);
    void Reply(int fd, const uint8_t* query, int length, const TDecision& decision);
    void Finish(const TDone& done);
    void TakeDone();

    modbus_t* m_ctx = nullptr;
    int m_listenFd = -1;
    TListen m_listen;     // with the port bound
    TListen m_requested;  // as the options give it
    int m_wakeFd = -1;    // eventfd: a write has finished
    std::map<int, TClient> m_clients;
    uint64_t m_nextId = 1;
    std::size_t m_round = 0;
    std::shared_ptr<TModuleSource> m_source;
    TPermissions m_allowed;
    std::vector<TCidr> m_allowFrom;
    modbus_mapping_t* m_mapping = nullptr;
    std::mutex m_doneMutex;
    std::deque<TDone> m_done;
    // Read by the metrics thread.
    std::atomic<uint64_t> m_requests{0};
    std::atomic<uint64_t> m_exceptions{0};
    std::atomic<std::size_t> m_clientCount{0};
};
