// dlopen, dlsym and dlclose: the loader of every POSIX build. Kept apart so
// that the Windows build swaps in LoadLibraryA and friends without touching
// the layer above.
#include <dlfcn.h>

#include "DynLoad.h"

std::string LibraryFileName(const std::string& base) { return "lib" + base + ".so"; }

TLibHandle LoadLib(const std::string& fileName) {
    // A bare name lets the run path ($ORIGIN) find the driver beside the
    // program, as the Windows search order does.
    return dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* LibSymbol(TLibHandle lib, const char* name) { return lib != nullptr ? dlsym(lib, name) : nullptr; }

void FreeLib(TLibHandle lib) {
    if (lib != nullptr) dlclose(lib);
}
