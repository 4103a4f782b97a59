// LoadLibraryA, GetProcAddress and FreeLibrary: the loader of the Windows
// build, where the interface libraries are the maker's DLLs.
#include <windows.h>

#include "DynLoad.h"

std::string LibraryFileName(const std::string& base) { return base + ".DLL"; }

TLibHandle LoadLib(const std::string& fileName) { return LoadLibraryA(fileName.c_str()); }

void* LibSymbol(TLibHandle lib, const char* name) {
    return lib != nullptr ? reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(lib), name))
                          : nullptr;
}

void FreeLib(TLibHandle lib) {
    if (lib != nullptr) FreeLibrary(static_cast<HMODULE>(lib));
}
