# Cross build for 64-bit Windows with Debian's mingw-w64 (posix threads, for
# std::thread and std::mutex). The C++ runtime is linked statically into
# every program and DLL, so nothing beyond Windows' own DLLs and Qt's is
# needed, also under Wine.
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_PREFIX_PATH=<Qt for Windows> ...
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VAZUR_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VAZUR_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VAZUR_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VAZUR_MINGW_TRIPLE}-windres)

# The prefixes named for packages (the cached Qt) are roots too: below they
# would only be looked for inside the compiler's own root.
set(CMAKE_FIND_ROOT_PATH /usr/${VAZUR_MINGW_TRIPLE} ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -static)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -static)
