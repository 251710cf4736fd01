# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 compilers. The
# -posix variants carry std::thread and std::mutex, which Qt needs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TARVIL_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TARVIL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TARVIL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TARVIL_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${TARVIL_MINGW_TRIPLE}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${TARVIL_MINGW_TRIPLE}-gcc-ranlib-posix CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${TARVIL_MINGW_TRIPLE})
# Programs come from the build machine; headers, libraries and packages only
# from the Windows side (and the paths a caller adds, such as Qt's prefix).
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
