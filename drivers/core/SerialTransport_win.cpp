// The serial transport on the Win32 communications API. The port is opened
// without sharing, which Windows enforces for every other program. Reads
// use the time-out form that returns as soon as any byte is there, so a
// reply is taken piece by piece exactly as from a POSIX tty.
#include <windows.h>

#include <algorithm>
#include <array>
#include <cwctype>
#include <iterator>
#include <utility>

#include "Transport.h"
#include "WideText_win.h"

namespace drv {

namespace {

// Whole milliseconds until the deadline, at least 1: a zero total
// time-out would mean "wait for ever" to the communications driver.
DWORD MillisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 1) return 1;
    return left >= MAXDWORD - 1 ? MAXDWORD - 1 : static_cast<DWORD>(left);
}

class SerialTransport final : public Transport {
  public:
    SerialTransport(HANDLE port, HANDLE claim) : m_port(port), m_claim(claim) {}
    ~SerialTransport() override {
        CloseHandle(m_port);
        if (m_claim != nullptr) CloseHandle(m_claim);
    }
    SerialTransport(const SerialTransport&) = delete;
    SerialTransport& operator=(const SerialTransport&) = delete;

    Result SetSpeed(std::uint32_t baud) override {
        constexpr std::uint32_t kSpeeds[] = {600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
        if (std::find(std::begin(kSpeeds), std::end(kSpeeds), baud) == std::end(kSpeeds)) {
            return Result::BadSpeed;
        }
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!GetCommState(m_port, &dcb)) {
            return Result::PortSetupFailed;
        }
        dcb.BaudRate = baud;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.fBinary = TRUE;
        dcb.fParity = FALSE;
        dcb.fOutxCtsFlow = FALSE;
        dcb.fOutxDsrFlow = FALSE;
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
        dcb.fDsrSensitivity = FALSE;
        dcb.fOutX = FALSE;
        dcb.fInX = FALSE;
        dcb.fNull = FALSE;
        dcb.fAbortOnError = FALSE;
        return SetCommState(m_port, &dcb) ? Result::Ok : Result::PortSetupFailed;
    }

    // As on POSIX, bytes still inside a converter are not reached; the tag
    // check in the transaction keeps them from being taken for the answer.
    Result Discard() override {
        COMSTAT stat{};
        DWORD errors = 0;
        m_discardedInput = ClearCommError(m_port, &errors, &stat) && stat.cbInQue > 0;
        PurgeComm(m_port, PURGE_RXCLEAR);
        return Result::Ok;
    }

    Result Write(std::span<const std::uint8_t> bytes, Clock::time_point deadline) override {
        COMMTIMEOUTS timeouts{};
        timeouts.WriteTotalTimeoutConstant = MillisecondsLeft(deadline);
        if (!SetCommTimeouts(m_port, &timeouts)) {
            return Result::WriteFailed;
        }
        while (!bytes.empty()) {
            DWORD written = 0;
            if (!WriteFile(m_port, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
                written == 0) {
                return Result::WriteFailed;
            }
            bytes = bytes.subspan(written);
        }
        return Result::Ok;
    }

    // MAXDWORD interval and multiplier with a finite constant: ReadFile
    // returns at once with whatever is buffered, waits for the first byte
    // otherwise, and gives up at the deadline.
    Result Read(std::vector<std::uint8_t>& chunk, Clock::time_point deadline) override {
        chunk.clear();
        // Past the deadline a read takes what is there and returns at once
        // (the interval alone at MAXDWORD), as ppoll with no time left does.
        const bool look = Clock::now() >= deadline;
        COMMTIMEOUTS timeouts{};
        timeouts.ReadIntervalTimeout = MAXDWORD;
        timeouts.ReadTotalTimeoutMultiplier = look ? 0 : MAXDWORD;
        timeouts.ReadTotalTimeoutConstant = look ? 0 : MillisecondsLeft(deadline);
        if (!SetCommTimeouts(m_port, &timeouts)) {
            return Result::ReadFailed;
        }
        std::array<std::uint8_t, 256> buffer{};
        DWORD got = 0;
        if (!ReadFile(m_port, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
            return Result::ReadFailed;
        }
        chunk.assign(buffer.begin(), buffer.begin() + got);
        return Result::Ok;
    }

    bool Datagrams() const override { return false; }

  private:
    HANDLE m_port;
    HANDLE m_claim;
};

// A named mutex per port, held while the port is open. Windows' own serial
// driver refuses a second opener anyway; a port that another layer serves
// (a virtual port, wine's mapping of a Unix device) may not, and the claim
// still keeps out every other program that takes it. Null when the name
// cannot be made; busy when another holder has it.
std::pair<bool, HANDLE> ClaimPort(const std::string& path) {
    std::wstring name = L"Global\\rq905-serial-";
    for (const wchar_t c : Widen(path)) {
        name += c == L'\\' ? L'_' : static_cast<wchar_t>(std::towupper(c));
    }
    const HANDLE claim = CreateMutexW(nullptr, FALSE, name.c_str());
    if (claim != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(claim);
        return {true, nullptr};
    }
    return {false, claim};
}

}  // namespace

Opened OpenSerial(const std::string& path) {
    // No sharing: a second opener of the port, in any program, is refused.
    const HANDLE port = CreateFileW(Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        switch (GetLastError()) {
            case ERROR_FILE_NOT_FOUND:
            case ERROR_PATH_NOT_FOUND:
            case ERROR_BAD_UNIT:
                return {Result::NoDevice, nullptr};
            case ERROR_ACCESS_DENIED:
            case ERROR_SHARING_VIOLATION:
                return {Result::DeviceBusy, nullptr};
            default:
                return {Result::OpenFailed, nullptr};
        }
    }
    // Only a communications device has a comm state; a plain file does not.
    DCB probe{};
    probe.DCBlength = sizeof probe;
    if (GetFileType(port) != FILE_TYPE_CHAR || !GetCommState(port, &probe)) {
        CloseHandle(port);
        return {Result::OpenFailed, nullptr};
    }
    const auto [busy, claim] = ClaimPort(path);
    if (busy) {
        CloseHandle(port);
        return {Result::DeviceBusy, nullptr};
    }
    auto transport = std::make_unique<SerialTransport>(port, claim);
    const Result r = transport->SetSpeed(9600);
    if (r != Result::Ok) {
        return {r, nullptr};
    }
    return {Result::Ok, std::move(transport)};
}

}  // namespace drv
