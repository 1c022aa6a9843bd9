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
# libz-mingw-w64-dev): configuring then builds the library once from
# Debian's source package, fetched with `apt-get source` (it needs deb-src
# entries, which .ci/run adds, and dpkg-dev) into BMP2GRID_DEPS_DIR/src, with
# the build's own compiler, as a static library installed into
# BMP2GRID_DEPS_DIR/<system>-<processor>. Later configures reuse it; it is
# built again only when its version or settings change. Delete
# BMP2GRID_DEPS_DIR to fetch a newer Debian version.
#
# Where the programs link statically (bmp2grid_program_link_options), the
# static libpng and zlib are chosen, so that the programs stay
# self-contained: a Windows build imports only system DLLs.

# Unpacks Debian's source package PACKAGE into BMP2GRID_DEPS_DIR/src, unless
# it is there already, and sets <out>_DIR and <out>_VERSION. Takes the
# newest version apt offers; where that can't be fetched (a mirror without
# it), the next newest, with a warning.
function(bmp2grid_debian_source package out)
  set(src ${BMP2GRID_DEPS_DIR}/src)
  file(MAKE_DIRECTORY ${src})
  file(LOCK ${src}/.lock GUARD FUNCTION)
  file(GLOB dsc ${src}/${package}_*.dsc)
  if(NOT dsc)
    execute_process(COMMAND apt-cache showsrc ${package}
      OUTPUT_VARIABLE showsrc ERROR_QUIET RESULT_VARIABLE failed)
    string(REGEX MATCHALL "\nVersion: [^\n]+" versions "\n${showsrc}")
    list(TRANSFORM versions REPLACE "\nVersion: " "")
    list(REMOVE_DUPLICATES versions)
    list(SORT versions COMPARE NATURAL ORDER DESCENDING)
    if(failed OR NOT versions)
      message(FATAL_ERROR "apt knows no source package ${package}, which this build compiles "
        "for its target (BMP2GRID_BUILD_LIBPNG, BMP2GRID_BUILD_ZLIB). Add deb-src entries for "
        "the sources apt installs from and run apt-get update (.ci/run does both).")
    endif()
    foreach(version IN LISTS versions)
      message(STATUS "Fetching Debian's source of ${package} ${version} into ${src}")
      execute_process(COMMAND apt-get source -qq ${package}=${version}
        WORKING_DIRECTORY ${src} RESULT_VARIABLE failed OUTPUT_VARIABLE log ERROR_VARIABLE log)
      file(GLOB dsc ${src}/${package}_*.dsc)
      if(NOT failed AND dsc)
        break()
      endif()
      message(WARNING "apt-get source ${package}=${version} failed:\n${log}")
      file(GLOB partial ${src}/${package}[_-]*)
      if(partial)
        file(REMOVE_RECURSE ${partial})
      endif()
      set(dsc "")
    endforeach()
    if(NOT dsc)
      message(FATAL_ERROR "No version of Debian's source package ${package} could be fetched "
        "(apt-get source ${package}; it needs dpkg-dev).")
    endif()
  endif()
  list(LENGTH dsc count)
  if(NOT count EQUAL 1)
    message(FATAL_ERROR "${src} holds more than one version of ${package} (${dsc}): delete it.")
  endif()
  # package_<version without epoch>.dsc unpacks into package-<upstream version>.
  get_filename_component(name ${dsc} NAME_WLE)
  string(REPLACE "${package}_" "" version ${name})
  string(REGEX REPLACE "-[^-]*$" "" upstream ${version})
  if(NOT IS_DIRECTORY ${src}/${package}-${upstream})
    message(FATAL_ERROR "${dsc} is not unpacked in ${src}/${package}-${upstream}: delete ${src}.")
  endif()
  set(${out}_DIR ${src}/${package}-${upstream} PARENT_SCOPE)
  set(${out}_VERSION ${version} PARENT_SCOPE)
endfunction()

# Builds and installs Debian's source package PACKAGE (named NAME in
# messages) for this build's target into PREFIX, unless the same version
# with the same settings is installed there already. STYLE is CMAKE (its
# CMake project, with this build's tool chain file and the given cache
# entries) or CONFIGURE (its configure script, given the arguments, with CC
# and CHOST naming this build's C compiler and target).
function(bmp2grid_build_debian_source name package prefix style)
  bmp2grid_debian_source(${package} source)
  set(stamp ${prefix}/${name}.stamp)
  set(settings "${source_VERSION} ${CMAKE_C_COMPILER} ${style} ${ARGN}")
  if(EXISTS ${stamp})
    file(READ ${stamp} built)
    if(built STREQUAL settings)
      return()
    endif()
  endif()
  set(work ${prefix}/build-${name})
  set(log ${prefix}/${name}-build.log)
  message(STATUS "Building ${name} ${source_VERSION} for ${CMAKE_SYSTEM_NAME} ${CMAKE_SYSTEM_PROCESSOR} "
    "from ${source_DIR} into ${prefix} (log: ${log})")
  file(REMOVE_RECURSE ${work} ${stamp} ${log})
  file(MAKE_DIRECTORY ${work})
  if(style STREQUAL CMAKE)
    set(arch "")
    if(DEFINED BMP2GRID_MINGW_ARCH)
      set(arch -DBMP2GRID_MINGW_ARCH=${BMP2GRID_MINGW_ARCH})
    endif()
    set(configure ${CMAKE_COMMAND} -S ${source_DIR} -B ${work} -G ${CMAKE_GENERATOR}
      -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE} ${arch}
      -DCMAKE_BUILD_TYPE=Release -DCMAKE_POSITION_INDEPENDENT_CODE=ON
      -DCMAKE_INSTALL_PREFIX=${prefix} -DCMAKE_INSTALL_LIBDIR=lib ${ARGN})
    set(build ${CMAKE_COMMAND} --build ${work} --parallel 2)
    set(install ${CMAKE_COMMAND} --install ${work})
  else()
    find_program(BMP2GRID_MAKE NAMES gmake make REQUIRED)
    get_filename_component(compiler ${CMAKE_C_COMPILER} NAME)
    string(REGEX REPLACE "-(gcc|cc|clang)(-.*)?$" "" host ${compiler})
    set(configure ${CMAKE_COMMAND} -E env CHOST=${host} CC=${CMAKE_C_COMPILER} AR=${CMAKE_AR} RANLIB=${CMAKE_RANLIB} "CFLAGS=-O2 -fPIC"
      ${source_DIR}/configure --prefix=${prefix} ${ARGN})
    set(build ${BMP2GRID_MAKE} -j2)
    set(install ${BMP2GRID_MAKE} install)
  endif()
  string(TIMESTAMP start %s)
  foreach(step configure build install)
    execute_process(COMMAND ${${step}} WORKING_DIRECTORY ${work}
      RESULT_VARIABLE failed OUTPUT_VARIABLE out ERROR_VARIABLE out)
    list(JOIN ${step} " " command)
    file(APPEND ${log} "$ ${command}\n${out}\n")
    if(failed)
      message(FATAL_ERROR "Building ${name} from ${source_DIR} failed at its ${step} step; see ${log}")
    endif()
  endforeach()
  string(TIMESTAMP end %s)
  math(EXPR seconds "${end} - ${start}")
  message(STATUS "Built ${name} ${source_VERSION} in ${seconds} s")
  file(WRITE ${stamp} "${settings}")
endfunction()

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

  if(BMP2GRID_BUILD_LIBPNG OR BMP2GRID_BUILD_ZLIB)
    set(prefix ${BMP2GRID_DEPS_DIR}/${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR})
    file(MAKE_DIRECTORY ${prefix})
    file(LOCK ${prefix}/.lock GUARD FUNCTION)
    # What is built there is found before the tool chain's own.
    list(PREPEND CMAKE_FIND_ROOT_PATH ${prefix})
    set(CMAKE_FIND_ROOT_PATH ${CMAKE_FIND_ROOT_PATH} PARENT_SCOPE)
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
