# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (posix threading flavour, which
# std::thread needs). Executables are fully static so they run without any MinGW runtime DLL
# beside them; Wine runs them for CTest.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TOLVEX_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TOLVEX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOLVEX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TOLVEX_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TOLVEX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No libgcc/libstdc++/winpthread DLLs at run time, for programs and for the simulator's
# FTD2XX.DLL alike.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Wine runs the Windows programs: CTest and gtest_discover_tests go through this emulator.
# The 64-bit loader is called directly (Debian's `wine` wrapper wants wine32 too), quietly;
# WINELOADER lets a Windows program started under it start further Windows programs.
find_program(TOLVEX_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT TOLVEX_WINE64)
    find_program(TOLVEX_WINE64 NAMES wine64 wine)
endif()
if(TOLVEX_WINE64)
    set(CMAKE_CROSSCOMPILING_EMULATOR
        ${CMAKE_COMMAND} -E env WINEDEBUG=-all WINELOADER=${TOLVEX_WINE64} ${TOLVEX_WINE64})
endif()
