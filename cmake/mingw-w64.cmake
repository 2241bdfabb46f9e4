# Builds the component as a Windows in-process server with the mingw-w64 cross compiler:
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
# The -posix compiler, because the default one has no std::mutex or std::thread.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CRV_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${CRV_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${CRV_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${CRV_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${CRV_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Programs run under Wine, for the tests.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../windows/wine-run.sh)
