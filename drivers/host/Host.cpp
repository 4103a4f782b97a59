// rq905-drvhost.exe DLL [stdcall|cdecl]: a 32-bit process that loads one
// driver library and serves its seven entry points over standard input and
// output, for a caller that cannot load the library itself (Linux through
// wine, a 64-bit program on Windows).
#include <windows.h>

#include <io.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Frame.h"

namespace {

using drvhost::Frame;
using drvhost::Op;

struct Stdcall {
    using Version = std::uint32_t(__stdcall*)();
    using InitParam = std::uint32_t(__stdcall*)(std::uint32_t*, std::uint32_t);
    using InitPlain = std::uint32_t(__stdcall*)(std::uint32_t*);
    using InitBlock = std::uint32_t(__stdcall*)(std::uint32_t*, const std::uint32_t*);
    using SetConfig = std::uint32_t(__stdcall*)(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t);
    using GetConfig = std::uint32_t(__stdcall*)(std::uint32_t, std::uint32_t*, std::uint32_t*,
                                                std::uint32_t*);
    using Send = std::uint32_t(__stdcall*)(std::uint32_t, const std::uint32_t*, std::uint32_t*,
                                           std::uint32_t*, std::uint32_t*);
    using Done = std::uint32_t(__stdcall*)(std::uint32_t*);
    using Error = std::uint32_t(__stdcall*)(std::uint32_t, std::uint32_t*);
};

struct Cdecl {
    using Version = std::uint32_t(__cdecl*)();
    using InitParam = std::uint32_t(__cdecl*)(std::uint32_t*, std::uint32_t);
    using InitPlain = std::uint32_t(__cdecl*)(std::uint32_t*);
    using InitBlock = std::uint32_t(__cdecl*)(std::uint32_t*, const std::uint32_t*);
    using SetConfig = std::uint32_t(__cdecl*)(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t);
    using GetConfig = std::uint32_t(__cdecl*)(std::uint32_t, std::uint32_t*, std::uint32_t*, std::uint32_t*);
    using Send = std::uint32_t(__cdecl*)(std::uint32_t, const std::uint32_t*, std::uint32_t*, std::uint32_t*,
                                         std::uint32_t*);
    using Done = std::uint32_t(__cdecl*)(std::uint32_t*);
    using Error = std::uint32_t(__cdecl*)(std::uint32_t, std::uint32_t*);
};

constexpr const char* kEntries[] = {"Version", "Init", "SetConfig", "GetConfig", "Send", "Done", "Error"};
// Argument bytes of each entry point with the widest Init, for the
// decorated names a __stdcall library may export instead of plain ones.
constexpr int kArgBytes[] = {0, 8, 16, 16, 20, 4, 8};

FARPROC Resolve(HMODULE module, const std::string& prefix, int index) {
    const std::string plain = prefix + "_" + kEntries[index];
    if (FARPROC p = GetProcAddress(module, plain.c_str())) {
        return p;
    }
    // Init takes 4 bytes (kinds 2, 3) or 8; try both.
    for (int bytes = kArgBytes[index]; bytes >= 0 && bytes >= kArgBytes[index] - 4; bytes -= 4) {
        for (const char* lead : {"_", ""}) {
            const std::string decorated = lead + plain + "@" + std::to_string(bytes);
            if (FARPROC p = GetProcAddress(module, decorated.c_str())) {
                return p;
            }
        }
    }
    return nullptr;
}

// The prefix is the file's name without directory and extension, in
// capitals, as the five libraries are named.
std::string Prefix(const char* path) {
    std::string name = path;
    const auto slash = name.find_last_of("\\/");
    if (slash != std::string::npos) {
        name.erase(0, slash + 1);
    }
    const auto dot = name.find_last_of('.');
    if (dot != std::string::npos) {
        name.erase(dot);
    }
    for (char& c : name) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return name;
}

bool ReadStdin(void* context, std::uint8_t* data, std::size_t n) {
    while (n > 0) {
        DWORD got = 0;
        if (!ReadFile(static_cast<HANDLE>(context), data, static_cast<DWORD>(n), &got, nullptr) || got == 0) {
            return false;
        }
        data += got;
        n -= got;
    }
    return true;
}

bool WriteStdout(void* context, const std::uint8_t* data, std::size_t n) {
    while (n > 0) {
        DWORD put = 0;
        if (!WriteFile(static_cast<HANDLE>(context), data, static_cast<DWORD>(n), &put, nullptr) ||
            put == 0) {
            return false;
        }
        data += put;
        n -= put;
    }
    return true;
}

// A crash of the driver ends the host at once, without a crash dialog or a
// debugger; the caller sees its pipe close.
LONG WINAPI EndOnCrash(EXCEPTION_POINTERS*) { ExitProcess(3); }

struct Entries {
    FARPROC p[7];
};

// GetProcAddress gives one pointer type for every function.
template <typename F>
F As(FARPROC p) {
    F f;
    static_assert(sizeof f == sizeof p);
    std::memcpy(&f, &p, sizeof f);
    return f;
}

template <typename C>
bool Serve(const Entries& e, const Frame& in, Frame& out) {
    const std::uint32_t* w = in.words.data();
    out.count = 0;
    auto need = [&](std::uint32_t n) { return in.count >= n; };
    switch (static_cast<Op>(in.tag)) {
        case Op::Version:
            out.tag = As<typename C::Version>(e.p[0])();
            return true;
        case Op::InitParam:
        case Op::InitPlain:
        case Op::InitBlock: {
            if (!need(in.tag == static_cast<std::uint32_t>(Op::InitParam) ? 2 : 1)) {
                return false;
            }
            std::uint32_t handle = w[0];
            if (in.tag == static_cast<std::uint32_t>(Op::InitParam)) {
                out.tag = As<typename C::InitParam>(e.p[1])(&handle, w[1]);
            } else if (in.tag == static_cast<std::uint32_t>(Op::InitPlain)) {
                out.tag = As<typename C::InitPlain>(e.p[1])(&handle);
            } else {
                // The host's own copy of the 16 cells, cell 0 pointing at its
                // own copy of the IP text.
                if (!need(1 + drvhost::kInitCells + 1)) {
                    return false;
                }
                const std::uint32_t length = w[1 + drvhost::kInitCells];
                if (length > drvhost::kMaxText || !need(1 + drvhost::kInitCells + 1 + length)) {
                    return false;
                }
                char text[drvhost::kMaxText + 1] = {};
                for (std::uint32_t i = 0; i < length; ++i) {
                    text[i] = static_cast<char>(w[2 + drvhost::kInitCells + i]);
                }
                std::uint32_t cells[drvhost::kInitCells];
                std::memcpy(cells, w + 1, sizeof cells);
                cells[0] = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(text));
                out.tag = As<typename C::InitBlock>(e.p[1])(&handle, cells);
            }
            out.Push(handle);
            return true;
        }
        case Op::SetConfig:
            if (!need(4)) {
                return false;
            }
            out.tag = As<typename C::SetConfig>(e.p[2])(w[0], w[1], w[2], w[3]);
            return true;
        case Op::GetConfig: {
            if (!need(4)) {
                return false;
            }
            std::uint32_t v[3] = {w[1], w[2], w[3]};
            out.tag = As<typename C::GetConfig>(e.p[3])(w[0], &v[0], &v[1], &v[2]);
            for (std::uint32_t x : v) {
                out.Push(x);
            }
            return true;
        }
        case Op::Send: {
            if (!need(1 + 2 * drvhost::kCells + 2)) {
                return false;
            }
            std::uint32_t request[drvhost::kCells];
            std::uint32_t reply[drvhost::kCells];
            std::memcpy(request, w + 1, sizeof request);
            std::memcpy(reply, w + 1 + drvhost::kCells, sizeof reply);
            std::uint32_t value = w[1 + 2 * drvhost::kCells];
            std::uint32_t status = w[2 + 2 * drvhost::kCells];
            out.tag = As<typename C::Send>(e.p[4])(w[0], request, reply, &value, &status);
            for (std::uint32_t x : reply) {
                out.Push(x);
            }
            out.Push(value);
            out.Push(status);
            return true;
        }
        case Op::Done: {
            if (!need(1)) {
                return false;
            }
            std::uint32_t handle = w[0];
            out.tag = As<typename C::Done>(e.p[5])(&handle);
            out.Push(handle);
            return true;
        }
        case Op::Error: {
            if (!need(1 + drvhost::kCells)) {
                return false;
            }
            std::uint32_t text[drvhost::kCells];
            std::memcpy(text, w + 1, sizeof text);
            out.tag = As<typename C::Error>(e.p[6])(w[0], text);
            for (std::uint32_t x : text) {
                out.Push(x);
            }
            return true;
        }
    }
    return false;
}

// The caller's requests, read by a thread of their own: a caller that goes
// away (its pipe closes) ends the host even while the driver hangs in a
// call, so no host outlives its caller. The main thread alone calls the
// driver, one request at a time, as it always did.
struct Inbox {
    HANDLE input = nullptr;
    HANDLE ready = nullptr;  // a request, or the end, waits
    HANDLE taken = nullptr;  // the main thread is done with the last request
    Frame request;
    volatile LONG end = 0;
    volatile LONG busy = 0;  // the driver is in a call
};

DWORD WINAPI ReadRequests(void* context) {
    auto& box = *static_cast<Inbox*>(context);
    Frame next;
    // The next request is read while the current one is served, so that the
    // end of the input is seen at once.
    while (ReadFrame(ReadStdin, box.input, next)) {
        WaitForSingleObject(box.taken, INFINITE);
        box.request = next;
        SetEvent(box.ready);
    }
    InterlockedExchange(&box.end, 1);
    if (InterlockedCompareExchange(&box.busy, 0, 0) != 0) {
        TerminateProcess(GetCurrentProcess(), 4);
    }
    SetEvent(box.ready);
    return 0;
}

int ServeRequests(const Entries& entries, bool useCdecl, HANDLE input, HANDLE output) {
    Inbox box;
    box.input = input;
    box.ready = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    box.taken = CreateEventA(nullptr, FALSE, TRUE, nullptr);
    if (box.ready == nullptr || box.taken == nullptr ||
        CreateThread(nullptr, 0, ReadRequests, &box, 0, nullptr) == nullptr) {
        return 2;
    }
    Frame answer;
    for (;;) {
        WaitForSingleObject(box.ready, INFINITE);
        const Frame request = box.request;
        InterlockedExchange(&box.busy, 1);
        // Either this sees the end, or the reader sees the call under way.
        if (InterlockedCompareExchange(&box.end, 0, 0) != 0) {
            return 0;
        }
        bool served = false;
        try {
            served =
                useCdecl ? Serve<Cdecl>(entries, request, answer) : Serve<Stdcall>(entries, request, answer);
        } catch (...) {
            // A C++ exception out of the driver: the caller gets its pipe
            // closed, as for a crash.
            return 3;
        }
        InterlockedExchange(&box.busy, 0);
        if (!served || !WriteFrame(WriteStdout, output, answer)) {
            return 2;
        }
        SetEvent(box.taken);
    }
}

}  // namespace

int main(int argc, char** argv) {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(EndOnCrash);
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    // The answers keep the output to themselves: whatever the driver prints
    // goes to the error output instead.
    const int answers = _dup(1);
    _dup2(2, 1);
    auto output = reinterpret_cast<HANDLE>(_get_osfhandle(answers));
    SetStdHandle(STD_OUTPUT_HANDLE, GetStdHandle(STD_ERROR_HANDLE));

    Frame hello;
    hello.tag = drvhost::kHello;
    const bool useCdecl = argc >= 3 && std::strcmp(argv[2], "cdecl") == 0;
    if (argc < 2 || argc > 3 || (argc == 3 && !useCdecl && std::strcmp(argv[2], "stdcall") != 0)) {
        for (const std::uint32_t w : {static_cast<std::uint32_t>(drvhost::Loaded::BadArguments), 0U, 0U}) {
            hello.Push(w);
        }
        WriteFrame(WriteStdout, output, hello);
        return 2;
    }
    // A library of ours built for Windows would otherwise start a host of
    // its own.
    SetEnvironmentVariableA("RQ905_WINDRIVERS", nullptr);
    _putenv("RQ905_WINDRIVERS=");
    HMODULE module = LoadLibraryA(argv[1]);
    if (module == nullptr) {
        // Why it did not load is what the user needs: not a 32-bit
        // library, or a library it depends on missing.
        const DWORD error = GetLastError();
        for (const std::uint32_t w : {static_cast<std::uint32_t>(drvhost::Loaded::NotLoadable), 0U,
                                      static_cast<std::uint32_t>(error)}) {
            hello.Push(w);
        }
        WriteFrame(WriteStdout, output, hello);
        return 1;
    }
    Entries entries{};
    const std::string prefix = Prefix(argv[1]);
    std::uint32_t missing = 0;
    for (int i = 0; i < 7; ++i) {
        entries.p[i] = Resolve(module, prefix, i);
        if (entries.p[i] == nullptr) {
            missing |= 1U << i;
        }
    }
    hello.Push(static_cast<std::uint32_t>(missing ? drvhost::Loaded::MissingEntry : drvhost::Loaded::Ok));
    hello.Push(missing);
    hello.Push(0);
    if (!WriteFrame(WriteStdout, output, hello) || missing != 0) {
        return 1;
    }

    return ServeRequests(entries, useCdecl, input, output);
}
