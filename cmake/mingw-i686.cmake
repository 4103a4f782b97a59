# 32-bit Windows cross build with Debian's g++-mingw-w64-i686 (posix
# threads), run under wine. The maker's driver libraries are 32-bit, so the
# program that loads them in-process must be as well.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(RQ905_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${RQ905_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${RQ905_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${RQ905_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${RQ905_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C++ runtime and winpthread linked in, so that the programs and the
# libraries run beside each other without the compiler's own DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Tests (and their discovery) run the programs under wine.
find_program(RQ905_WINE wine)
if(RQ905_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${RQ905_WINE})
endif()
