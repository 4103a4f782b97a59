// A driver library that records every call into the shared recorder and
// answers from its script. Built once per library name; FAKE_OMIT_GETCONFIG
// builds a broken one that lacks an entry point.
#include <cstdint>
#include <string>

#include "Driver318Abi.h"
#include "RecState.h"

// Windows exports what is marked; ELF builds hide all else by default.
#ifdef _WIN32
#define FAKE_EXPORT __declspec(dllexport)
#else
#define FAKE_EXPORT __attribute__((visibility("default")))
#endif

#define FAKE_STR2(x) #x
#define FAKE_STR(x) FAKE_STR2(x)
#define FAKE_CAT2(a, b) a##_##b
#define FAKE_CAT(a, b) FAKE_CAT2(a, b)
#define FAKE_ENTRY(name) FAKE_CAT(FAKE_PREFIX, name)

namespace {

TRecCall& Record(const char* entry, std::initializer_list<uint64_t> args) {
    TRecCall call;
    call.library = FAKE_STR(FAKE_PREFIX);
    call.entry = entry;
    call.args = args;
    Rec().calls.push_back(call);
    return Rec().calls.back();
}

uint32_t DoInit(uint32_t* handle) {
    if (Rec().initResult == 0) *handle = Rec().initHandle;
    return Rec().initResult;
}

}  // namespace

extern "C" {

FAKE_EXPORT uint32_t RQ905_CALL FAKE_ENTRY(Version)(void) {
    Record("Version", {});
    return 0x0102;
}

#if FAKE_INIT_FORM == 1
FAKE_EXPORT uint32_t RQ905_CALL FAKE_ENTRY(Init)(uint32_t* handle, uint32_t param) {
    Record("Init", {param});
    return DoInit(handle);
}
#elif FAKE_INIT_FORM == 2
FAKE_EXPORT uint32_t RQ905_CALL FAKE_ENTRY(Init)(uint32_t* handle) {
    Record("Init", {});
    return DoInit(handle);
}
#else
FAKE_EXPORT uint32_t RQ905_CALL FAKE_ENTRY(Init)(uint32_t* handle, const uintptr_t* params) {
    TRecCall& call = Record("Init", {params[0], params[1], params[2], params[3], params[15]});
    if (params[0] != 0) call.ipText = reinterpret_cast<const char*>(params[0]);
    return DoInit(handle);
}
#endif

FAKE_EXPORT uint32_t RQ905_CALL FAKE_ENTRY(SetConfig)(uint32_t handle, uint32_t speed, uint32_t value,
                                                      uint32_t mode) {
    Record("SetConfig", {handle, speed, value, mode});
    return Rec().setConfigResult;
}

#ifndef FAKE_OMIT_GETCONFIG
FAKE_EXPORT uint32_t RQ905_CALL FAKE_ENTRY(GetConfig)(uint32_t handle, uint32_t* speed, uint32_t* value,
                                                      uint32_t* mode) {
    Record("GetConfig", {handle});
    *speed = 9600;
    *value = 13;
    *mode = 2;
    return 0;
}
#endif

FAKE_EXPORT uint32_t RQ905_CALL FAKE_ENTRY(Send)(uint32_t handle, const uint32_t* request, uint32_t* reply,
                                                 uint32_t* out, uint32_t* status) {
    TRecCall& call = Record("Send", {handle});
    for (int i = 0; i < 8; ++i) call.request[static_cast<std::size_t>(i)] = request[i];
    const std::array<uint32_t, 8> sent = call.request;
    if (Rec().duringSend) Rec().duringSend();
    TRecReply answer = Rec().defaultReply;
    if (!Rec().replies.empty()) {
        answer = Rec().replies.front();
        Rec().replies.pop_front();
    } else if (Rec().responder) {
        answer = Rec().responder(sent);
    }
    *out = answer.out;
    *status = answer.status;
    for (int i = 0; i < 4; ++i) reply[i] = answer.cells[static_cast<std::size_t>(i)];
    return answer.result;
}

FAKE_EXPORT uint32_t RQ905_CALL FAKE_ENTRY(Done)(uint32_t* handle) {
    Record("Done", {*handle});
    if (Rec().duringDone) Rec().duringDone();
    *handle = Rec().doneHandleAfter;
    return Rec().doneResult;
}

FAKE_EXPORT uint32_t RQ905_CALL FAKE_ENTRY(Error)(uint32_t code, uint32_t* text) {
    Record("Error", {code});
    const auto it = Rec().errorTexts.find(code);
    const std::string message = it != Rec().errorTexts.end() ? it->second : "E" + std::to_string(code);
    for (std::size_t i = 0; i < 100; ++i) {
        text[i] = i < message.size() ? static_cast<unsigned char>(message[i]) : 0u;
    }
    return 0;
}

}  // extern "C"
