// The serial devices of the machine as the drivers see them: rq905ctl ports,
// and the device behind a serial connection that could not be opened.
#pragma once

#include <optional>
#include <string>

#include "CtlArgs.h"
#include "CtlOutput.h"
#include "core/Dekl.h"

// Where the system's device tree and /dev are; a test gives a prepared tree.
struct TPortRoots {
    std::string sys = "/sys";
    std::string dev = "/dev";
};

// Lists the serial devices present, whether the user may open each, and
// which device each serial kind would use now (COM and ISA card with the
// port number and base of data) and why.
int ListPorts(const TCtlOptions& options, const TData& data, const TPortRoots& roots, TCtlIo& io);

// The device a serial kind of data would open, and why opening it fails
// now (the operating system's reason), looked up and tried as the driver
// does. Texts are Windows-1250; none for the LAN converter.
struct TDeviceProblem {
    std::string path;    // empty: no device was found
    std::string source;  // "variable", "devices_file" or "default"
    std::string origin;  // the variable's name or the devices file's path
    std::string reason;
    std::string text;  // all of it, for a person
};
std::optional<TDeviceProblem> DeviceProblem(const TData& data);
