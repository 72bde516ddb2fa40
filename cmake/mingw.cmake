# Cross-build for Windows with MinGW-w64, for the processor the toolchain file that includes this
# one names (CMAKE_SYSTEM_PROCESSOR: i686 or x86_64).
set(CMAKE_SYSTEM_NAME Windows)
set(corvane_mingw_triple ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER ${corvane_mingw_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${corvane_mingw_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${corvane_mingw_triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${corvane_mingw_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
