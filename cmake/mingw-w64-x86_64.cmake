# Cross build for 64-bit Windows with Debian's mingw-w64 (posix threads, for
# std::thread and std::mutex). Everything is linked statically, so the
# programs need no DLL beyond Windows' own, also under Wine.
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DVAZUR_QT=OFF ...
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VAZUR_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VAZUR_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VAZUR_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VAZUR_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VAZUR_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
