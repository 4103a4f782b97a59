// Binding failures: a library that lacks an entry point, and kinds whose
// library is not there at all.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "RecState.h"
#include "link/Txxx318.h"

namespace {

bool Resident(const char* file) {
    void* lib = dlopen(file, RTLD_NOW | RTLD_NOLOAD);
    if (lib == nullptr) return false;
    dlclose(lib);
    return true;
}

TEST(BrokenLibrary, MissingEntryIsRefusedAndReleased) {
    Rec().Reset();
    for (uint8_t kind : {uint8_t{0}, uint8_t{4}}) {
        uint32_t handle = 0;
        EXPECT_EQ(OpenInterface(kind, handle, {}), 110u + kind);
        EXPECT_EQ(handle, 0u);
        EXPECT_FALSE(Resident(kind == 0 ? "libTCOM318.so" : "libTRQ1318.so"));
        TCellBlock req{}, rep{};
        uint32_t out = 0, status = 0;
        EXPECT_EQ(InterfaceSend(kind, 1, req, rep, out, status), kResultNotBound);
        EXPECT_EQ(CloseInterface(kind, handle), kResultNotBound);
    }
    EXPECT_TRUE(Rec().calls.empty());
}

TEST(BrokenLibrary, MissingFileGives100PlusKind) {
    for (uint8_t kind : {uint8_t{1}, uint8_t{2}, uint8_t{3}}) {
        uint32_t handle = 0;
        EXPECT_EQ(OpenInterface(kind, handle, {}), 100u + kind);
        TCellBlock req{}, rep{};
        uint32_t out = 0, status = 0;
        EXPECT_EQ(InterfaceSend(kind, 1, req, rep, out, status), kResultNotBound);
        EXPECT_EQ(ResultMessage(kind, 100u + kind),
                  std::string("chyba inicializace knihovny ") + kInterfaceKinds[kind].libraryText);
    }
}

}  // namespace
