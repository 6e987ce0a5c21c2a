# Cross-building the Windows programs (tremcvt.exe, windump.exe, winwrite.exe
# and the unit tests) on Debian with mingw-w64:
#
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake
#
# The -posix compilers are used: the default ones of the same name lack
# std::thread and std::mutex. The C and C++ runtimes are linked statically, so
# the programs need nothing beside them but Windows' own DLLs (odbc32.dll
# among them). ctest runs the test programs through wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TREMCVT_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TREMCVT_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TREMCVT_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TREMCVT_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TREMCVT_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Debian 12 installs the 64-bit loader as /usr/lib/wine/wine64; newer wine
# packages have a single "wine".
find_program(TREMCVT_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(TREMCVT_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TREMCVT_WINE})
endif()
