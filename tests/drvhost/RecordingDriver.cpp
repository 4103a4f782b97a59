// A 32-bit Windows driver that keeps the arguments of its latest call and
// hands them back as the text of code 99; Send answers from its inputs,
// crashes on request cell 0 = 0xDEAD and never returns on 0x48414E47
// ("HANG"), nor does Init on that parameter or on 255 (COM255, for a
// hung library behind rq905ctl). Address 254 takes 1.5 s, a slow line.
#include <windows.h>

#include <cstdint>
#include <initializer_list>

#define EXPORT(name) extern "C" __declspec(dllexport) std::uint32_t CALL name

#define JOIN2(a, b) a##_##b
#define JOIN(a, b) JOIN2(a, b)
#define ENTRY(name) JOIN(PREFIX, name)

namespace {
std::uint32_t g_last[100];
std::uint32_t g_count;
void Record(std::uint32_t w) {
    if (g_count < 100) {
        g_last[g_count++] = w;
    }
}
void Begin(std::uint32_t entry) {
    g_count = 0;
    Record(entry);
}
}  // namespace

EXPORT(ENTRY(Version))() { return 0x0102; }
#if FORM == 1
EXPORT(ENTRY(Init))(std::uint32_t* handle, std::uint32_t param) {
    if (param == 0x48414E47 || param == 255) {
        Sleep(INFINITE);
    }
    Begin(1);
    Record(*handle);
    Record(param);
    *handle += 1000;
    return 0;
}
#else
EXPORT(ENTRY(Init))(std::uint32_t* handle, const std::uint32_t* cells) {
    Begin(1);
    Record(*handle);
    for (int i = 1; i < 16; ++i) {
        Record(cells[i]);
    }
    for (const char* text = reinterpret_cast<const char*>(cells[0]); *text != '\0'; ++text) {
        Record(static_cast<unsigned char>(*text));
    }
    *handle += 1000;
    return 0;
}
#endif
EXPORT(ENTRY(SetConfig))(std::uint32_t handle, std::uint32_t speed, std::uint32_t value, std::uint32_t mode) {
    Begin(2);
    for (std::uint32_t w : {handle, speed, value, mode}) {
        Record(w);
    }
    return 0;
}
EXPORT(ENTRY(GetConfig))
(std::uint32_t handle, std::uint32_t* speed, std::uint32_t* value, std::uint32_t* mode) {
    Begin(3);
    for (std::uint32_t w : {handle, *speed, *value, *mode}) {
        Record(w);
    }
    *speed += 1;
    *value += 2;
    *mode += 3;
    return 0;
}
EXPORT(ENTRY(Send))
(std::uint32_t handle, const std::uint32_t* request, std::uint32_t* reply, std::uint32_t* out,
 std::uint32_t* status) {
    if (request[0] == 0x48414E47) {
        Sleep(INFINITE);
    }
    if (request[0] == 254) {
        Sleep(1500);
    }
    if (request[0] == 0xDEAD) {
        *reinterpret_cast<volatile std::uint32_t*>(static_cast<std::uintptr_t>(handle & 0xF)) = 1;
    }
    for (int i = 0; i < 100; ++i) {
        reply[i] += request[i];
    }
    *out += handle;
    *status += 300;
    return request[1];
}
EXPORT(ENTRY(Done))(std::uint32_t* handle) {
    Begin(5);
    Record(*handle);
    *handle = 0;
    return 0;
}
EXPORT(ENTRY(Error))(std::uint32_t code, std::uint32_t* text) {
    if (code == 99) {
        for (std::uint32_t i = 0; i < 100; ++i) {
            text[i] = i < g_count ? g_last[i] : 0;
        }
        return g_count;
    }
    text[0] = 'R';
    text[1] = code;
    text[2] = 0;
    return 0;
}
