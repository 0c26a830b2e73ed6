# Cross-build for Windows x64 with mingw-w64 (posix threads):
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# Every artifact links libgcc, libstdc++ and winpthread statically, so install.dll, TalCi.dll and
# the .exe files need only Windows system DLLs and run under wine as they are. Tests run through
# CTest under wine (TAL_WINE, see scripts/tal-wine).

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TAL_MINGW_TRIPLE x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${TAL_MINGW_TRIPLE}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${TAL_MINGW_TRIPLE}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${TAL_MINGW_TRIPLE}-windres REQUIRED)
find_program(TAL_OBJDUMP NAMES ${TAL_MINGW_TRIPLE}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${TAL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static runtime everywhere: no libgcc_s_seh-1.dll, libstdc++-6.dll or libwinpthread-1.dll.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Windows programs built here run under wine: tests registered with add_test(COMMAND <target>)
# get the emulator automatically; others use ${TAL_WINE} explicitly.
get_filename_component(_tal_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(TAL_WINE "${_tal_root}/scripts/tal-wine" CACHE FILEPATH "Runs a Windows program under wine")
set(CMAKE_CROSSCOMPILING_EMULATOR "${TAL_WINE}")
