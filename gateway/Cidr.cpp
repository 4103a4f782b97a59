// --allow-from: the networks Modbus clients may connect from.
#include <arpa/inet.h>

#include "GatewayOptions.h"
#include "core/IntText.h"

namespace {

std::string_view Trim(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

bool ParseCidrList(std::string_view text, std::vector<TCidr>& list) {
    list.clear();
    while (true) {
        const std::size_t comma = text.find(',');
        const std::string_view item = Trim(text.substr(0, comma));
        const std::size_t slash = item.find('/');
        int32_t bits = 32;
        if (slash != std::string_view::npos &&
            (!TryStrToInt(item.substr(slash + 1), bits) || bits < 0 || bits > 32))
            return false;
        in_addr address{};
        if (::inet_pton(AF_INET, std::string(item.substr(0, slash)).c_str(), &address) != 1) return false;
        TCidr cidr;
        cidr.mask = bits == 0 ? 0 : ~uint32_t{0} << (32 - bits);
        cidr.network = ntohl(address.s_addr) & cidr.mask;
        list.push_back(cidr);
        if (comma == std::string_view::npos) return true;
        text = text.substr(comma + 1);
    }
}

bool CidrAllows(const std::vector<TCidr>& list, uint32_t hostOrderAddress) {
    if (list.empty()) return true;
    for (const TCidr& cidr : list) {
        if ((hostOrderAddress & cidr.mask) == cidr.network) return true;
    }
    return false;
}
