# Settings each of the project's targets carries itself: nothing here is set
# for the whole directory tree, so a project that adds this one as a
# subdirectory keeps its own flags.

# The language standard, warnings and sanitizers for one target. PRODUCT
# marks code that ships in the programs: its libraries also get
# BMP2GRID_INSTRUMENT (the fuzz preset's coverage instrumentation), so
# fuzzers see coverage of the programs' code and not of their harness.
function(bmp2grid_target_settings target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "PRODUCT" "" "")
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_compile_features(${target} INTERFACE cxx_std_20)
    return()
  endif()
  if(NOT type MATCHES "^(STATIC_LIBRARY|SHARED_LIBRARY|OBJECT_LIBRARY|EXECUTABLE)$")
    return()
  endif()
  target_compile_features(${target} PUBLIC cxx_std_20)
  set_target_properties(${target} PROPERTIES CXX_EXTENSIONS OFF)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(BMP2GRID_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  if(BMP2GRID_SANITIZE)
    target_compile_options(${target} PRIVATE
      -fsanitize=${BMP2GRID_SANITIZE} -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=${BMP2GRID_SANITIZE})
  endif()
  if(arg_PRODUCT AND NOT type STREQUAL "EXECUTABLE" AND BMP2GRID_INSTRUMENT)
    target_compile_options(${target} PRIVATE ${BMP2GRID_INSTRUMENT})
  endif()
endfunction()

# Applies bmp2grid_target_settings (with the same arguments) to every
# target the calling folder's CMakeLists.txt has defined so far; each
# folder calls it at its end.
function(bmp2grid_folder_settings)
  get_property(targets DIRECTORY PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    bmp2grid_target_settings(${target} ${ARGN})
  endforeach()
endfunction()

# A program's executable: on Windows self-contained, with no runtime DLLs
# beside it. Elsewhere, with BMP2GRID_STATIC, linked statically: loading and
# relocating the shared C++ runtime (libstdc++, libm, libgcc_s) took longer
# than converting a small map. The programs use nothing of the C library that
# loads modules at run time (no user or host name look-ups, no locales, no
# iconv), so a static C library loses nothing. -static-pie keeps addresses
# randomised; where it can't link (code not position-independent), plain
# -static; where there is no static C library (it is a package of its own on
# some systems), the C++ runtime alone. Sanitizers need their shared
# runtimes, so a sanitized build stays dynamic. The Debian package's build
# (the deb preset) turns BMP2GRID_STATIC off; cmake/bmp2grid_debian.cmake
# says why.
function(bmp2grid_program target)
  bmp2grid_program_link_options(options)
  target_link_options(${target} PRIVATE ${options})
endfunction()

# The link options bmp2grid_program gives a program, in OUT (empty where the
# programs link dynamically).
function(bmp2grid_program_link_options out)
  set(options "")
  if(WIN32)
    set(options -static -static-libgcc -static-libstdc++)
  elseif(BMP2GRID_STATIC AND NOT BMP2GRID_SANITIZE AND NOT APPLE)
    include(CheckLinkerFlag)
    check_linker_flag(CXX -static-pie BMP2GRID_LINKS_STATIC_PIE)
    check_linker_flag(CXX -static BMP2GRID_LINKS_STATIC)
    if(BMP2GRID_LINKS_STATIC_PIE)
      set(options -static-pie)
    elseif(BMP2GRID_LINKS_STATIC)
      set(options -static)
    else()
      set(options -static-libstdc++ -static-libgcc)
    endif()
  endif()
  set(${out} ${options} PARENT_SCOPE)
endfunction()
