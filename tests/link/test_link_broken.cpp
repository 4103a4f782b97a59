// Binding failures: a library that lacks an entry point, and kinds whose
// library is not there at all.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include "RecState.h"
#include "link/DynLoad.h"
#include "link/Txxx318.h"

namespace {

bool Resident(const std::string& base) {
    const std::string file = LibraryFileName(base);
#ifdef _WIN32
    return GetModuleHandleA(file.c_str()) != nullptr;
#else
    void* lib = dlopen(file.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (lib == nullptr) return false;
    dlclose(lib);
    return true;
#endif
}

TEST(BrokenLibrary, MissingEntryIsRefusedAndReleased) {
    Rec().Reset();
    for (uint8_t kind : {uint8_t{0}, uint8_t{4}}) {
        uint32_t handle = 0;
        EXPECT_EQ(OpenInterface(kind, handle, {}), 110u + kind);
        EXPECT_EQ(handle, 0u);
        EXPECT_FALSE(Resident(kind == 0 ? "TCOM318" : "TRQ1318"));
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
