// Options of rq905-gateway, from its command line and its configuration
// file (one "name value" per line, the long options without their dashes),
// which SIGHUP reads again. No Qt.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "CtlArgs.h"
#include "CtlTargets.h"

// A network address to listen on.
struct TListen {
    std::string host;
    uint16_t port = 0;
    bool operator==(const TListen&) const = default;
};

// An IPv4 network of --allow-from, in host byte order.
struct TCidr {
    uint32_t network = 0;
    uint32_t mask = 0;
    bool operator==(const TCidr&) const = default;
};

struct TGatewayOptions {
    bool help = false;
    bool version = false;
    std::optional<std::string> configPath;
    TConnectionOverrides connection;
    std::vector<uint8_t> addresses;      // --address LIST
    std::optional<std::string> targets;  // --targets FILE
    TListen modbus{"127.0.0.1", 1502};
    std::optional<TListen> metrics;
    bool allowWrite = false;
    bool allowConfig = false;
    std::vector<TCidr> allowFrom;  // empty: anyone
    uint32_t pollMs = 100;
};

// Parses "--name value" pairs (also "--name=value") over options. origin
// names the source in an error ("line 3").
bool ParseGatewayArgs(const std::vector<std::string>& args, TGatewayOptions& options, std::string& error);
// A configuration file's text: '#' begins a comment, each other line is a
// long option without its dashes and its value.
bool ParseGatewayConfig(std::string_view text, TGatewayOptions& options, std::string& error);

bool ParseListen(std::string_view text, TListen& listen);
bool ParseCidrList(std::string_view text, std::vector<TCidr>& list);
bool CidrAllows(const std::vector<TCidr>& list, uint32_t hostOrderAddress);

// One line the gateway owns: its connection and its modules.
struct TGatewayLine {
    std::string name;  // as a target line names the converter: "lan:127.0.0.1:3180"
    TTarget target;
};
// The lines of options: the --targets file, or the one line of the
// connection options with --address. Checks what one gateway can serve.
bool ResolveLines(const TGatewayOptions& options, std::vector<TGatewayLine>& lines, std::string& error);

std::string GatewayHelpText();
