# Cross-compiles for Windows with Debian's mingw-w64. BMP2GRID_MINGW_ARCH
# picks the target: x86_64 (64-bit, the default) or i686 (32-bit). The -posix
# compilers provide std::thread.
if(NOT BMP2GRID_MINGW_ARCH)
  set(BMP2GRID_MINGW_ARCH x86_64)
endif()
# Checks that CMake compiles in separate projects need the same choice.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES BMP2GRID_MINGW_ARCH)

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${BMP2GRID_MINGW_ARCH})
set(CMAKE_C_COMPILER ${BMP2GRID_MINGW_ARCH}-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER ${BMP2GRID_MINGW_ARCH}-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER ${BMP2GRID_MINGW_ARCH}-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${BMP2GRID_MINGW_ARCH}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
