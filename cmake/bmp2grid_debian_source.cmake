# Libraries built for a cross build's target from Debian's source packages
# (BMP2GRID_BUILD_LIBPNG, BMP2GRID_BUILD_ZLIB, BMP2GRID_BUILD_EXPAT; used by
# cmake/bmp2grid_png.cmake and cmake/bmp2grid_tiled.cmake). Configuring
# builds each asked-for library once from Debian's source package, fetched
# with `apt-get source` (it needs deb-src entries, which .ci/run adds, and
# dpkg-dev) into BMP2GRID_DEPS_DIR/src, with the build's own compiler, as a
# static library installed into BMP2GRID_DEPS_DIR/<system>-<processor>
# (BMP2GRID_DEPS_PREFIX), which is searched before the tool chain's own
# folders. Later configures reuse it; it is built again only when its
# version or settings change. Delete BMP2GRID_DEPS_DIR to fetch a newer
# Debian version.

set(BMP2GRID_DEPS_PREFIX ${BMP2GRID_DEPS_DIR}/${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR})
if(BMP2GRID_BUILD_LIBPNG OR BMP2GRID_BUILD_ZLIB OR BMP2GRID_BUILD_EXPAT)
  file(MAKE_DIRECTORY ${BMP2GRID_DEPS_PREFIX})
  # What is built there is found before the tool chain's own.
  list(PREPEND CMAKE_FIND_ROOT_PATH ${BMP2GRID_DEPS_PREFIX})
endif()

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
        "for its target (BMP2GRID_BUILD_LIBPNG, BMP2GRID_BUILD_ZLIB, BMP2GRID_BUILD_EXPAT). Add deb-src "
        "entries for the sources apt installs from and run apt-get update (.ci/run does both).")
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
# and CHOST naming this build's C compiler and target). Where the project
# is in a folder of the source package, SUBDIR and its name come first
# among the arguments.
function(bmp2grid_build_debian_source name package prefix style)
  bmp2grid_debian_source(${package} source)
  set(stamp ${prefix}/${name}.stamp)
  set(settings "${source_VERSION} ${CMAKE_C_COMPILER} ${style} ${ARGN}")
  set(args ${ARGN})
  if(ARGV4 STREQUAL "SUBDIR")
    list(POP_FRONT args keyword subdir)
    string(APPEND source_DIR /${subdir})
  endif()
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
      -DCMAKE_INSTALL_PREFIX=${prefix} -DCMAKE_INSTALL_LIBDIR=lib ${args})
    set(build ${CMAKE_COMMAND} --build ${work} --parallel 2)
    set(install ${CMAKE_COMMAND} --install ${work})
  else()
    find_program(BMP2GRID_MAKE NAMES gmake make REQUIRED)
    get_filename_component(compiler ${CMAKE_C_COMPILER} NAME)
    string(REGEX REPLACE "-(gcc|cc|clang)(-.*)?$" "" host ${compiler})
    set(configure ${CMAKE_COMMAND} -E env CHOST=${host} CC=${CMAKE_C_COMPILER} AR=${CMAKE_AR} RANLIB=${CMAKE_RANLIB} "CFLAGS=-O2 -fPIC"
      ${source_DIR}/configure --prefix=${prefix} ${args})
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
