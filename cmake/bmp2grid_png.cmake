# libpng and zlib for the programs: found here, before any folder asks for
# them with find_package(PNG), so that every folder gets the same PNG::PNG.
#
# A native build uses the system's libpng (Debian: libpng-dev). Debian ships
# no libpng for mingw-w64. For s390x it has libpng-dev:s390x, but installing
# it beside the machine's own libpng-dev (multiarch) needs the same version
# for both architectures, and bookworm's security archive builds no s390x, so
# the two part with the first security update; and the s390x cross tool chain
# has no zlib. So the cross presets set BMP2GRID_BUILD_LIBPNG (and, for
# s390x, BMP2GRID_BUILD_ZLIB; the Windows builds use Debian's
# libz-mingw-w64-dev): configuring then builds the library for the target
# from Debian's source package (cmake/bmp2grid_debian_source.cmake).
#
# Where the programs link statically (bmp2grid_program_link_options), the
# static libpng and zlib are chosen, so that the programs stay
# self-contained: a Windows build imports only system DLLs.

# Builds what BMP2GRID_BUILD_ZLIB and BMP2GRID_BUILD_LIBPNG ask for, finds
# libpng (PNG::PNG) and zlib, and checks that a program links them the way
# the programs link. Configuring fails here, saying how to get libpng, when
# it is missing or can't be linked.
function(bmp2grid_find_png)
  bmp2grid_program_link_options(link_options)
  if(link_options)
    # The programs link statically: static libraries only.
    set(ZLIB_USE_STATIC_LIBS ON)
    set(CMAKE_FIND_LIBRARY_SUFFIXES ${CMAKE_STATIC_LIBRARY_SUFFIX})
  endif()

  set(prefix ${BMP2GRID_DEPS_PREFIX})
  if(BMP2GRID_BUILD_LIBPNG OR BMP2GRID_BUILD_ZLIB)
    file(LOCK ${prefix}/.lock GUARD FUNCTION)
  endif()
  if(BMP2GRID_BUILD_ZLIB)
    bmp2grid_build_debian_source(zlib zlib ${prefix} CONFIGURE --static)
  endif()
  find_package(ZLIB)
  if(NOT ZLIB_FOUND)
    if(WIN32 AND CMAKE_CROSSCOMPILING)
      set(how "Debian: libz-mingw-w64-dev")
    elseif(CMAKE_CROSSCOMPILING)
      set(how "configure with -DBMP2GRID_BUILD_ZLIB=ON to build it from Debian's source package, as the s390x preset does")
    else()
      set(how "Debian: zlib1g-dev")
    endif()
    message(FATAL_ERROR "zlib, which libpng needs, was not found for ${CMAKE_SYSTEM_NAME} "
      "${CMAKE_SYSTEM_PROCESSOR} (${how})")
  endif()
  if(BMP2GRID_BUILD_LIBPNG)
    bmp2grid_build_debian_source(libpng libpng1.6 ${prefix} CMAKE
      -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_EXECUTABLES=OFF -DPNG_TESTS=OFF
      -DSKIP_INSTALL_FILES=ON -DSKIP_INSTALL_EXPORT=ON
      -DZLIB_INCLUDE_DIR=${ZLIB_INCLUDE_DIR} -DZLIB_LIBRARY=${ZLIB_LIBRARY})
  endif()
  find_package(PNG)
  if(NOT PNG_FOUND)
    if(CMAKE_CROSSCOMPILING)
      set(how "configure with -DBMP2GRID_BUILD_LIBPNG=ON to build it from Debian's source package, as the cross presets do")
    else()
      set(how "Debian: libpng-dev")
    endif()
    message(FATAL_ERROR "libpng was not found for ${CMAKE_SYSTEM_NAME} ${CMAKE_SYSTEM_PROCESSOR} (${how})")
  endif()

  include(CheckCXXSourceCompiles)
  set(CMAKE_REQUIRED_LIBRARIES PNG::PNG)
  set(CMAKE_REQUIRED_LINK_OPTIONS ${link_options})
  set(CMAKE_REQUIRED_QUIET ON)
  # Reading and writing rows pull in zlib's inflate and deflate.
  check_cxx_source_compiles([[
    #include <png.h>
    int main(int argc, char**) {
      png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
      if (argc > 9) { png_write_row(png, nullptr); png_read_row(png, nullptr, nullptr); }
      png_destroy_write_struct(&png, nullptr);
      return 0;
    }]] BMP2GRID_LINKS_LIBPNG)
  if(NOT BMP2GRID_LINKS_LIBPNG)
    message(FATAL_ERROR "libpng (${PNG_LIBRARY}) and zlib (${ZLIB_LIBRARY}) were found, but a "
      "program can't link them with the programs' link options (${link_options}); "
      "see CMakeFiles/CMakeError.log")
  endif()
  message(STATUS "libpng ${PNG_VERSION_STRING}: ${PNG_LIBRARY}; zlib ${ZLIB_VERSION_STRING}: ${ZLIB_LIBRARY}")
endfunction()

bmp2grid_find_png()
