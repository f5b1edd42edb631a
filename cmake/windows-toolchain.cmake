# Cross-building for 64-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-x86-64), its
# posix flavour for std::thread and nanosleep through winpthreads. Used by
# scripts/windows.sh; hidapi is then found with -Dhidapi_DIR=<prefix>/lib/cmake/hidapi.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ostrel_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ostrel_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ostrel_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${ostrel_mingw}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ostrel_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
