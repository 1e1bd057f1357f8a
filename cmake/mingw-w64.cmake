# Cross build for 64-bit Windows with Debian's MinGW-w64 compilers (the
# posix thread model, which has std::thread): cmake --preset windows.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KRF_MINGW_TRIPLE x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${KRF_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KRF_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KRF_MINGW_TRIPLE}-windres)
set(CMAKE_OBJCOPY ${KRF_MINGW_TRIPLE}-objcopy CACHE FILEPATH "")
set(CMAKE_STRIP ${KRF_MINGW_TRIPLE}-strip CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${KRF_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every .exe self-contained: the C and C++ runtimes, winpthreads, zlib and
# libspng linked in, so nothing but system DLLs is loaded.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# The tests run the .exe files under Wine (see tests/run.sh --windows).
find_program(KRF_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(KRF_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KRF_WINE})
endif()
