# Cross-compiles telmar for 64-bit Windows with MinGW-w64 from Debian (the POSIX-threads variant
# of the compiler: std::thread and std::mutex need it). The programs run on this machine under
# Wine: CTest starts every test through cmake/wine-run (CMAKE_CROSSCOMPILING_EMULATOR).
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TELMAR_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TELMAR_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TELMAR_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TELMAR_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TELMAR_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run)
