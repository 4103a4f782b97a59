// The modules of a plant, converter by converter: the input form of
// config apply and config diff over many converters. One line each, a
// converter and the bus addresses behind it, so the file reads as a list
// and GNU parallel can hand its lines to one rq905ctl each:
//
//     # converter               addresses
//     lan:192.168.10.21:3180    1-12
//     lan:plc-hall-2            1,3,7-9
//     com:1                     2-4
//
// A converter is lan:HOST[:PORT], com:N, isa:BASE, pci or usb; a part not
// given (the UDP port) comes from the connection as the settings file and
// the options give it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Dekl.h"

struct TTarget {
    std::string converter;  // as the line names it, Windows-1250
    uint8_t kind = 0;
    std::optional<uint8_t> comPort;
    std::optional<uint16_t> isaBase;
    std::optional<std::string> host;
    std::optional<uint32_t> udpPort;
    std::vector<uint8_t> addresses;
};

// A list's UTF-8 text. '#' or ';' begins a comment to the end of the
// line; blank lines are skipped, and anything else must be a converter,
// blanks, and an address list as --address takes it. Otherwise false with
// the line and the reason.
bool ParseTargets(std::string_view utf8, std::vector<TTarget>& targets, std::string& reason);

// The connection of data with the target's converter laid over it.
void ApplyTarget(TData& data, const TTarget& target);

// Addresses as --address takes them, runs joined: "1,3,7-12".
std::string AddressListText(const std::vector<uint8_t>& addresses);

// The target's line as the list holds it: "lan:10.0.0.1 1-3,7".
std::string TargetLine(const TTarget& target, const std::vector<uint8_t>& addresses);
