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

# A Qt built for this target (scripts/qt-win32.sh prints its prefix) is
# searched like the cross compiler's own libraries; its code generators
# (moc, uic, rcc) are the host's, from Debian's Qt of the same release.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES RQ905_QT_WIN32)
if(RQ905_QT_WIN32)
    list(PREPEND CMAKE_FIND_ROOT_PATH ${RQ905_QT_WIN32})
    list(PREPEND CMAKE_PREFIX_PATH ${RQ905_QT_WIN32})
    if(NOT QT_HOST_PATH)
        set(QT_HOST_PATH /usr)
    endif()
    if(NOT QT_HOST_PATH_CMAKE_DIR)
        execute_process(COMMAND dpkg-architecture -qDEB_HOST_MULTIARCH OUTPUT_VARIABLE rq905_multiarch
                        OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
        set(QT_HOST_PATH_CMAKE_DIR /usr/lib/${rq905_multiarch}/cmake)
    endif()
endif()

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
