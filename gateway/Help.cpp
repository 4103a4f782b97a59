#include "GatewayOptions.h"

std::string GatewayHelpText() {
    return "Usage: rq905-gateway [OPTION]...\n"
           "Serves RQ-905 modules over Modbus TCP and exports their health to Prometheus.\n"
           "\n"
           "Line and modules (as rq905ctl takes them):\n"
           "  --kind com|isa|pci|usb|lan   interface kind\n"
           "  --com N, --isa-base B, --ip HOST, --udp-port P, --udp-timeout MS, --speed BD\n"
           "  --address LIST               modules' bus addresses, e.g. 1,3,7-12\n"
           "  --targets FILE               converters and their modules, one per line\n"
           "\n"
           "Serving:\n"
           "  --modbus HOST:PORT           Modbus TCP server (default 127.0.0.1:1502)\n"
           "  --metrics HOST:PORT          Prometheus /metrics (default: none)\n"
           "  --allow-write                accept writes of coils and the PWM value\n"
           "  --allow-config               with --allow-write, also of configuration registers\n"
           "  --allow-from CIDR,...        accept Modbus clients from these networks only\n"
           "  --poll-ms MS                 poll period (default 100)\n"
           "  --config FILE                options, one per line without the dashes; SIGHUP reads it again\n"
           "  --help, --version\n"
           "\n"
           "Unit identifier = bus address. See /usr/share/doc/rq905/gateway.md for the map.\n";
}
