#include "link/Txxx318.h"

#include <chrono>

#include "link/DynLoad.h"

const std::array<TInterfaceKind, kKindCount> kInterfaceKinds = {{
    {"TCOM318", "TCOM318.DLL", "COMx", "Standardní COMx"},
    {"TPCI318", "TPCI318.DLL", "PCI-318", "ISA karta PCI-318"},
    {"TPCI1318", "TPCI1318.DLL", "PCI-1318", "PCI karta PCI-1318"},
    {"TUSB1318", "TUSB1318.DLL", "USB-1318", "USB konvertor USB-1318"},
    {"TRQ1318", "TRQ1318.DLL", "RQ-1318", "LAN konvertor RQ-1318"},
}};

const std::array<TLineSpeed, kSpeedCount> kLineSpeeds = {{
    {600, "600 Bd", 100},
    {1200, "1200 Bd", 100},
    {2400, "2400 Bd", 50},
    {4800, "4800 Bd", 25},
    {9600, "9600 Bd", 13},
    {19200, "19200 Bd", 7},
    {38400, "38400 Bd", 5},
    {57600, "57600 Bd", 5},
    {115200, "115200 Bd", 5},
}};

namespace {

// The bound library. Init is kept untyped: its form depends on the kind.
struct TBinding {
    TLibHandle module = nullptr;
    T318Version version = nullptr;
    void* init = nullptr;
    T318SetConfig setConfig = nullptr;
    T318GetConfig getConfig = nullptr;
    T318Send send = nullptr;
    T318Done done = nullptr;
    T318Error error = nullptr;
    T318LateReply lateReply = nullptr;  // not one of the seven: optional
};
TBinding g_lib;

TTransactionObserver g_observer = nullptr;
void* g_observerContext = nullptr;

bool ValidKind(uint8_t kind) { return kind < kKindCount; }

void MarkAbsent() {
    const TLibHandle module = g_lib.module;
    g_lib = TBinding{};
    g_lib.module = module;
}

void ReleaseModule() {
    FreeLib(g_lib.module);
    g_lib.module = nullptr;
}

template <typename Fn>
Fn Resolve(const std::string& prefix, const char* entry, bool& complete) {
    void* symbol = LibSymbol(g_lib.module, (prefix + "_" + entry).c_str());
    if (symbol == nullptr) complete = false;
    return reinterpret_cast<Fn>(symbol);
}

}  // namespace

uint32_t OpenInterface(uint8_t kind, uint32_t& handle, const TInitParams& params) {
    TInitParams copy = params;
    MarkAbsent();
    if (!ValidKind(kind)) return kResultNotBound;

    // A library left loaded by an earlier failed Init is released first, so
    // only one driver is ever resident.
    ReleaseModule();
    const TInterfaceKind& row = kInterfaceKinds[kind];
    g_lib.module = LoadLib(LibraryFileName(row.libraryBase));
    if (g_lib.module == nullptr) return kResultLoadFailed + kind;

    // Every entry is resolved, even after a missing one, and the library is
    // refused as a whole when any is absent.
    bool complete = true;
    const std::string prefix = row.libraryBase;
    g_lib.version = Resolve<T318Version>(prefix, "Version", complete);
    g_lib.init = LibSymbol(g_lib.module, (prefix + "_Init").c_str());
    if (g_lib.init == nullptr) complete = false;
    g_lib.setConfig = Resolve<T318SetConfig>(prefix, "SetConfig", complete);
    g_lib.getConfig = Resolve<T318GetConfig>(prefix, "GetConfig", complete);
    g_lib.send = Resolve<T318Send>(prefix, "Send", complete);
    g_lib.done = Resolve<T318Done>(prefix, "Done", complete);
    g_lib.error = Resolve<T318Error>(prefix, "Error", complete);
    if (complete) {
        g_lib.lateReply =
            reinterpret_cast<T318LateReply>(LibSymbol(g_lib.module, (prefix + "_LateReply").c_str()));
    }
    if (!complete) {
        MarkAbsent();
        ReleaseModule();
        return kResultBadLibrary + kind;
    }

    switch (kind) {
        case kKindCom:
        case kKindIsa:
            return reinterpret_cast<T318InitParam>(g_lib.init)(&handle, static_cast<uint32_t>(copy[0]));
        case kKindPci:
        case kKindUsb:
            return reinterpret_cast<T318InitPlain>(g_lib.init)(&handle);
        default:
            // The library gets its own copy, so it cannot disturb the
            // caller's block.
            return reinterpret_cast<T318InitBlock>(g_lib.init)(&handle, copy.data());
    }
}

uint32_t CloseInterface(uint8_t kind, uint32_t& handle) {
    if (!ValidKind(kind) || g_lib.done == nullptr) return kResultNotBound;
    const uint32_t result = g_lib.done(&handle);
    MarkAbsent();
    ReleaseModule();
    return result;
}

uint32_t InterfaceSetConfig(uint8_t kind, uint32_t handle, uint32_t speed, uint32_t value, uint32_t mode) {
    if (!ValidKind(kind) || g_lib.setConfig == nullptr) return kResultNotBound;
    return g_lib.setConfig(handle, speed, value, mode);
}

uint32_t InterfaceSend(uint8_t kind, uint32_t handle, const TCellBlock& request, TCellBlock& reply,
                       uint32_t& out, uint32_t& status) {
    if (!ValidKind(kind) || g_lib.send == nullptr) return kResultNotBound;
    return g_lib.send(handle, request.data(), reply.data(), &out, &status);
}

uint32_t InterfaceLateReply(uint8_t kind, uint32_t handle, uint8_t& address) {
    if (!ValidKind(kind) || g_lib.lateReply == nullptr) return kResultNotBound;
    uint32_t cell = 0;
    const uint32_t result = g_lib.lateReply(handle, &cell);
    if (result == 0 && cell <= 0xFFU) {
        address = static_cast<uint8_t>(cell);
        return 0;
    }
    return result == 0 ? kResultNotBound : result;
}

void ModuleTransaction(uint8_t kind, uint32_t handle, uint8_t address, uint8_t command, uint8_t index,
                       uint8_t& d0, uint8_t& d1, uint8_t& d2, uint8_t& d3, uint8_t& d4, uint8_t& status,
                       TCellBlock& reply) {
    if (handle == 0) return;

    TCellBlock request{};
    request[0] = address;
    request[1] = command;
    request[2] = index;
    request[3] = d0;
    request[4] = d1;
    request[5] = d2;
    request[6] = d3;
    request[7] = d4;

    uint32_t out = 0;
    uint32_t fullStatus = 0;
    const auto start =
        g_observer != nullptr ? std::chrono::steady_clock::now() : std::chrono::steady_clock::time_point{};
    const uint32_t result = InterfaceSend(kind, handle, request, reply, out, fullStatus);
    if (result != 0) fullStatus = result;
    if (g_observer != nullptr) {
        const auto us =
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
        g_observer(g_observerContext, address, fullStatus, static_cast<uint32_t>(us.count()));
    }
    // Only the low byte reaches the caller, and it keeps its meaning, so
    // that a library that sign-extends its status still works; but a
    // status such as 256 must not read as success there.
    if (fullStatus != 0 && (fullStatus & 0xFFu) == 0) fullStatus = kResultWideStatus;
    status = static_cast<uint8_t>(fullStatus);
    if (fullStatus == 0) {
        d0 = static_cast<uint8_t>(out);
        d1 = static_cast<uint8_t>(reply[0]);
        d2 = static_cast<uint8_t>(reply[1]);
        d3 = static_cast<uint8_t>(reply[2]);
        d4 = static_cast<uint8_t>(reply[3]);
    } else {
        d0 = d1 = d2 = d3 = d4 = 0;
    }
}

void SetTransactionObserver(TTransactionObserver observer, void* context) {
    g_observer = observer;
    g_observerContext = context;
}

uint32_t ResultText(uint8_t kind, uint32_t code, TCellBlock& text) {
    if (code < 100) {
        if (!ValidKind(kind) || g_lib.error == nullptr) return kResultNotBound;
        return g_lib.error(code, text.data());
    }
    if (code >= kResultLoadFailed && code < kResultLoadFailed + kKindCount) {
        return TextToCells(std::string("chyba inicializace knihovny ") +
                               kInterfaceKinds[code - kResultLoadFailed].libraryText,
                           text);
    }
    if (code >= kResultBadLibrary && code < kResultBadLibrary + kKindCount) {
        return TextToCells(
            std::string("chybná knihovna ") + kInterfaceKinds[code - kResultBadLibrary].libraryText, text);
    }
    if (code == kResultWideStatus) return TextToCells("neplatný stav přenosu od knihovny", text);
    return TextToCells("neznámý chybový kód", text);
}

uint32_t TextToCells(const std::string& text, TCellBlock& block) {
    TCellBlock work{};
    const std::size_t n = text.size() < work.size() - 1 ? text.size() : work.size() - 1;
    for (std::size_t i = 0; i < n; ++i) work[i + 1] = static_cast<unsigned char>(text[i]);
    block = work;
    return 0;
}

std::string CellsToText(const TCellBlock& block) {
    std::string text;
    // Cell 0 may be empty (the program's own texts start in cell 1) and so
    // never ends the text; from cell 1 on, the first 0 does.
    if (block[0] != 0) text.push_back(static_cast<char>(block[0] & 0xFF));
    for (std::size_t i = 1; i < block.size() && block[i] != 0; ++i) {
        text.push_back(static_cast<char>(block[i] & 0xFF));
    }
    return text;
}

std::string ResultMessage(uint8_t kind, uint32_t code) {
    TCellBlock block{};
    ResultText(kind, code, block);
    return CellsToText(block);
}

uint32_t SpeedFromIndex(uint8_t index) { return index < kSpeedCount ? kLineSpeeds[index].baud : 9600; }

uint8_t IndexFromSpeed(uint32_t speed) {
    for (uint8_t i = 0; i < kSpeedCount; ++i) {
        if (kLineSpeeds[i].baud == speed) return i;
    }
    return kDefaultSpeedIndex;
}

uint32_t SpeedConfigValue(uint32_t index) {
    return index < kSpeedCount ? kLineSpeeds[index].configValue : 13;
}
