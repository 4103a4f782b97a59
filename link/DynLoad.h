// Loading a shared library by bare file name and resolving its symbols.
// The platform part lives in DynLoad_posix.cpp or DynLoad_win.cpp, chosen by
// the build.
#pragma once

#include <string>

using TLibHandle = void*;

// The platform's file name of an interface library: lib<base>.so here,
// <base>.DLL on Windows.
std::string LibraryFileName(const std::string& base);
// nullptr when the library cannot be loaded.
TLibHandle LoadLib(const std::string& fileName);
// nullptr when the symbol is missing.
void* LibSymbol(TLibHandle lib, const char* name);
void FreeLib(TLibHandle lib);
