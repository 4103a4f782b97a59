// Modbus TCP frames of any shape at the gateway's server, through a socket
// pair into libmodbus and the map: bad lengths, bad protocol identifiers,
// every function code, truncated, oversized and several frames in a row.
// A module at unit 1 is fresh with everything written, unit 2 silent;
// writes succeed at once. Nothing may crash, leak or read out of bounds.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

#include "gateway/ModbusServer.h"

namespace {

class TFakeModules : public TModuleSource {
  public:
    bool View(uint8_t address, TModuleView& view) override {
        if (address > 2) return false;
        view = {};
        view.fresh = address == 1;
        view.outputs = 0x5A;
        view.pwm = 1234;
        for (auto& reg : view.config) reg = 7;
        return true;
    }
    void Submit(uint8_t, TWriteRequest request, std::function<void(uint8_t)> done) override {
        done(request.registers.size() > 3 ? kExIllegalValue : 0);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return 0;
    // The whole input must fit the socket's buffer before the server reads.
    if (size > 60000) size = 60000;
    if (::write(pair[1], data, size) != static_cast<ssize_t>(size)) {
        ::close(pair[0]);
        ::close(pair[1]);
        return 0;
    }
    ::shutdown(pair[1], SHUT_WR);
    {
        TModbusServer server;
        server.SetSource(std::make_shared<TFakeModules>());
        server.SetPermissions({true, true}, {});
        bool signalled = false;
        if (server.ServeClient(pair[0])) {
            // The loop serves the rest, and replies to the writes.
            for (int round = 0; round < 200 && server.Clients() > 0; ++round) {
                server.RunOnce(0, -1, signalled);
                char sink[4096];
                while (::recv(pair[1], sink, sizeof sink, MSG_DONTWAIT) > 0) {
                }
            }
        }
    }
    ::close(pair[1]);
    return 0;
}
