#include "Bridge.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "DeviceLookup.h"
#include "Link.h"

namespace drv::bridge {

namespace {

using drvhost::Frame;
using drvhost::Op;

// Every call is bounded by the longest the driver itself may wait in it, as
// its connection is set up, plus this margin for wine and a busy machine. A
// host that takes longer is taken for hung: it is ended, and the call
// answers HostEnded.
constexpr auto kCallMargin = std::chrono::seconds(5);
// Starting wine in a new prefix takes seconds, and more on a slow machine.
constexpr auto kStartWait = std::chrono::seconds(60);

// A caller's connection: the host library's own handle, and what bounds a
// transaction's wait.
struct Connection {
    std::uint32_t host = 0;
    bool udp = false;
    std::uint32_t udpTimeoutMs = 0;
    LineConfig config;
};

// One host per library and process; each library links its own copy.
struct State {
    std::mutex mutex;
    std::unique_ptr<Child> child;
    bool ended = false;
    // The caller's handles, each with the host library's own: that one may
    // be any number, also one our libraries hand out themselves.
    std::map<std::uint32_t, Connection> handles;
    std::uint32_t next = 0xB1318001;
    std::string library;
};

State& Shared() {
    static State state;
    return state;
}

// Set once a host was started, so that a library that never bridges pays a
// load for each call and nothing more.
std::atomic<bool> g_used{false};

struct Reading {
    Child* child;
    Child::Clock::time_point deadline;
};

bool ReadChild(void* context, std::uint8_t* data, std::size_t n) {
    const auto* r = static_cast<Reading*>(context);
    return r->child->Read(data, n, r->deadline);
}
bool WriteChild(void* context, const std::uint8_t* data, std::size_t n) {
    return static_cast<Child*>(context)->Write(data, n);
}

// The longest a transaction of c may take: the reply's wait, and a reply
// that keeps coming in scan mode.
Child::Clock::duration SendBound(const Connection& c) {
    return ReplyTimeout(c.config, c.udpTimeoutMs, c.udp) +
           std::chrono::microseconds(
               wire::LineTimeUs(kScanTrailBytes, std::max<std::uint32_t>(c.config.speed, 1))) +
           kCallMargin;
}

// One request, one answer within bound; an answer that does not fit the
// request, or none in time, counts as the host's end, and a host that is
// still there then is ended.
bool Call(State& s, const Frame& request, Frame& answer, std::uint32_t words,
          Child::Clock::duration bound = kCallMargin) {
    if (s.child && !s.ended) {
        Reading reading{s.child.get(), Child::Clock::now() + bound};
        if (WriteFrame(WriteChild, s.child.get(), request) && ReadFrame(ReadChild, &reading, answer) &&
            answer.count == words) {
            return true;
        }
        s.child->Kill();
    }
    s.ended = true;
    return false;
}

Result Start(State& s, const char* library) {
    s.child.reset();
    s.ended = false;
    s.library = library;
    const std::string dir = DriverDirectory();
    const std::string file = FindFile(dir, std::string(library) + ".DLL");
    if (file.empty()) {
        return Result::HostNotStarted;
    }
    const char* call = std::getenv(kCallVariable);
    const bool cdeclCall = call != nullptr && std::strcmp(call, "cdecl") == 0;
    s.child = Spawn(HostPath(), file, cdeclCall);
    g_used = true;
    Frame hello;
    Reading reading{s.child.get(), Child::Clock::now() + kStartWait};
    if (!s.child || !ReadFrame(ReadChild, &reading, hello) || hello.tag != drvhost::kHello ||
        hello.count < 1 || hello.words[0] != static_cast<std::uint32_t>(drvhost::Loaded::Ok)) {
        s.child.reset();
        return Result::HostNotStarted;
    }
    return Result::Ok;
}

template <typename F>
std::uint32_t Guarded(F&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return Code(Result::OutOfMemory);
    }
}

}  // namespace

int Probe(const std::string& file, bool cdeclCall, std::uint32_t& missing, std::uint32_t& error) {
    const auto child = Spawn(HostPath(), file, cdeclCall);
    Frame hello;
    Reading reading{child.get(), Child::Clock::now() + kStartWait};
    // An older host says only the outcome, or the outcome and the missing
    // entry points.
    if (!child || !ReadFrame(ReadChild, &reading, hello) || hello.tag != drvhost::kHello || hello.count < 1) {
        return -1;
    }
    missing = hello.count >= 2 ? hello.words[1] : 0;
    error = hello.count >= 3 ? hello.words[2] : 0;
    return static_cast<int>(hello.words[0]);
}

std::string DriverDirectory() {
    const char* dir = std::getenv(kDirVariable);
    if (dir != nullptr && *dir != '\0') {
        return dir;
    }
#if !defined(_WIN32)
    // Then the user's devices file, written in UTF-8 or Windows-1250.
    if (const std::string file = DevicesFilePath(); !file.empty()) {
        for (const char* key : {"Ovlada\xC4\x8D"
                                "e Windows",
                                "Ovlada\xE8"
                                "e Windows"}) {
            if (auto entry = DevicesFileEntry(file, key)) {
                return *entry;
            }
        }
    }
#endif
    return "";
}

std::uint32_t Init(const char* library, Op form, std::uint32_t* handle, std::uint32_t param,
                   const std::uintptr_t* params) noexcept {
    return Guarded([&] {
        if (handle == nullptr || (form == Op::InitBlock && params == nullptr)) {
            return Code(Result::BadParameter);
        }
        State& s = Shared();
        std::lock_guard lock(s.mutex);
        if (!s.child || s.ended || s.library != library) {
            if (const Result r = Start(s, library); r != Result::Ok) {
                return Code(r);
            }
        }
        Frame request;
        request.tag = static_cast<std::uint32_t>(form);
        request.Push(*handle);
        if (form == Op::InitParam) {
            request.Push(param);
        } else if (form == Op::InitBlock) {
            for (std::size_t i = 0; i < drvhost::kInitCells; ++i) {
                request.Push(i == 0 ? 0 : static_cast<std::uint32_t>(params[i]));
            }
            const auto* text = reinterpret_cast<const char*>(params[0]);
            const std::size_t length = text != nullptr ? ::strnlen(text, drvhost::kMaxText) : 0;
            request.Push(static_cast<std::uint32_t>(length));
            for (std::size_t i = 0; i < length; ++i) {
                request.Push(static_cast<unsigned char>(text[i]));
            }
        }
        Frame answer;
        // A host name may take its lookup's time.
        if (!Call(s, request, answer, 1, std::chrono::milliseconds(kMaxResolveMs) + kCallMargin)) {
            return Code(Result::HostEnded);
        }
        *handle = answer.words[0];
        if (answer.tag == 0) {
            Connection c;
            c.host = *handle;
            c.udp = form == Op::InitBlock;
            c.udpTimeoutMs =
                c.udp ? static_cast<std::uint32_t>(std::min<std::uintptr_t>(params[2], 0xFFFFFFFF)) : 0;
            s.handles.emplace(s.next, c);
            *handle = s.next++;
        }
        return answer.tag;
    });
}

bool Owns(std::uint32_t handle) noexcept {
    if (!g_used) {
        return false;
    }
    State& s = Shared();
    std::lock_guard lock(s.mutex);
    return s.handles.count(handle) != 0;
}

std::uint32_t SetConfig(std::uint32_t handle, std::uint32_t speed, std::uint32_t value,
                        std::uint32_t mode) noexcept {
    State& s = Shared();
    std::lock_guard lock(s.mutex);
    Frame request;
    request.tag = static_cast<std::uint32_t>(Op::SetConfig);
    Connection& c = s.handles[handle];
    for (std::uint32_t w : {c.host, speed, value, mode}) {
        request.Push(w);
    }
    Frame answer;
    if (!Call(s, request, answer, 0)) {
        return Code(Result::HostEnded);
    }
    if (answer.tag == 0) {
        c.config = {speed, value, mode};
    }
    return answer.tag;
}

std::uint32_t GetConfig(std::uint32_t handle, std::uint32_t* speed, std::uint32_t* value,
                        std::uint32_t* mode) noexcept {
    State& s = Shared();
    std::lock_guard lock(s.mutex);
    std::uint32_t* const targets[] = {speed, value, mode};
    Frame request;
    request.tag = static_cast<std::uint32_t>(Op::GetConfig);
    request.Push(s.handles[handle].host);
    for (std::uint32_t* p : targets) {
        request.Push(p != nullptr ? *p : 0);
    }
    Frame answer;
    if (!Call(s, request, answer, 3)) {
        return Code(Result::HostEnded);
    }
    for (std::size_t i = 0; i < 3; ++i) {
        if (targets[i] != nullptr) {
            *targets[i] = answer.words[i];
        }
    }
    return answer.tag;
}

std::uint32_t Send(std::uint32_t handle, const std::uint32_t* request, std::uint32_t* reply,
                   std::uint32_t* out, std::uint32_t* status) noexcept {
    if (request == nullptr || reply == nullptr || out == nullptr || status == nullptr) {
        return Code(Result::BadParameter);
    }
    State& s = Shared();
    std::lock_guard lock(s.mutex);
    Frame frame;
    frame.tag = static_cast<std::uint32_t>(Op::Send);
    const Connection& c = s.handles[handle];
    frame.Push(c.host);
    for (std::size_t i = 0; i < drvhost::kCells; ++i) {
        frame.Push(request[i]);
    }
    for (std::size_t i = 0; i < drvhost::kCells; ++i) {
        frame.Push(reply[i]);
    }
    frame.Push(*out);
    frame.Push(*status);
    Frame answer;
    if (!Call(s, frame, answer, drvhost::kCells + 2, SendBound(c))) {
        *status = Code(Result::HostEnded);
        return *status;
    }
    std::memcpy(reply, answer.words.data(), drvhost::kCells * sizeof *reply);
    *out = answer.words[drvhost::kCells];
    *status = answer.words[drvhost::kCells + 1];
    return answer.tag;
}

std::uint32_t Done(std::uint32_t* handle) noexcept {
    if (handle == nullptr) {
        return Code(Result::BadParameter);
    }
    State& s = Shared();
    std::lock_guard lock(s.mutex);
    const auto found = s.handles.find(*handle);
    if (found == s.handles.end()) {
        return Code(Result::BadHandle);
    }
    Frame request;
    request.tag = static_cast<std::uint32_t>(Op::Done);
    request.Push(found->second.host);
    s.handles.erase(found);
    Frame answer;
    // A host that has ended has closed its links with it. The caller's
    // handle is ours, so only a cleared one is passed on.
    std::uint32_t result = Code(Result::Ok);
    if (Call(s, request, answer, 1)) {
        result = answer.tag;
        if (answer.words[0] == 0) {
            *handle = 0;
        }
    } else {
        *handle = 0;
    }
    if (s.handles.empty()) {
        // Closing its input ends the host.
        s.child.reset();
        s.ended = false;
    }
    return result;
}

bool Error(std::uint32_t code, std::uint32_t* text, std::uint32_t& result) noexcept {
    if (text == nullptr || code == Code(Result::HostNotStarted) || code == Code(Result::HostEnded) ||
        !g_used) {
        return false;
    }
    State& s = Shared();
    std::lock_guard lock(s.mutex);
    if (!s.child || s.ended) {
        return false;
    }
    Frame request;
    request.tag = static_cast<std::uint32_t>(Op::Error);
    request.Push(code);
    for (std::size_t i = 0; i < drvhost::kCells; ++i) {
        request.Push(text[i]);
    }
    Frame answer;
    if (!Call(s, request, answer, drvhost::kCells)) {
        return false;
    }
    std::memcpy(text, answer.words.data(), drvhost::kCells * sizeof *text);
    result = answer.tag;
    return true;
}

}  // namespace drv::bridge
