# The libraries that read Tiled maps: expat (TMX, an XML format) and
# RapidJSON (TMJ, Tiled's JSON format), found here for every folder as the
# targets EXPAT::EXPAT and bmp2grid_rapidjson.
#
# A native build uses the system's expat (Debian: libexpat1-dev, on every
# Debian machine with a compiler); where the programs link statically
# (bmp2grid_program_link_options), its static library, which libexpat1-dev
# ships too. The cross presets set BMP2GRID_BUILD_EXPAT: configuring builds
# a static expat for the target from Debian's source package
# (cmake/bmp2grid_debian_source.cmake), without its tools, examples, tests,
# documents or fuzzers. A static expat on Windows wants XML_STATIC wherever
# its header is read; EXPAT::EXPAT carries it.
#
# RapidJSON is a library of headers only (Debian: rapidjson-dev); where it
# is not found, bmp2grid is built without TMJ input (BMP2GRID_TMJ_INPUT is
# OFF) and says so when given a TMJ map. Configuring warns of that, and
# fails where warnings are errors (BMP2GRID_WERROR, as in CI).

# Builds what BMP2GRID_BUILD_EXPAT asks for, finds expat (EXPAT::EXPAT) and
# checks that a program links it the way the programs link, with the limits
# on entity expansion that the TMX reader sets. Configuring fails here,
# saying how to get expat, when it is missing or can't be linked.
function(bmp2grid_find_expat)
  bmp2grid_program_link_options(link_options)
  if(link_options)
    # The programs link statically: the static library only.
    set(CMAKE_FIND_LIBRARY_SUFFIXES ${CMAKE_STATIC_LIBRARY_SUFFIX})
  endif()
  if(BMP2GRID_BUILD_EXPAT)
    set(prefix ${BMP2GRID_DEPS_PREFIX})
    file(LOCK ${prefix}/.lock GUARD FUNCTION)
    # Debian's source package holds expat's CMake project in expat/. Debian
    # builds it with its configure script, which defines XML_DTD as 1, and
    # its security fixes test `#if XML_DTD == 1`; the CMake project's header
    # would define XML_DTD empty. So DTD support (needed for the limits on
    # entity expansion) is asked for on the compiler's command line, and the
    # header's left out.
    set(c_flags -DXML_DTD=1)
    set(urandom "")
    if(EMSCRIPTEN)
      # The web page's module has no file system: reading /dev/urandom for
      # the hash salt stops it, and Emscripten's C library offers expat no
      # other source of entropy, so the salt comes from the clock there.
      # The page reads the files its user gives it, in the user's own tab.
      set(urandom -DEXPAT_DEV_URANDOM=OFF)
      string(APPEND c_flags " -DXML_POOR_ENTROPY")
    endif()
    bmp2grid_build_debian_source(expat expat ${prefix} CMAKE SUBDIR expat
      -DEXPAT_SHARED_LIBS=OFF -DEXPAT_BUILD_TOOLS=OFF -DEXPAT_BUILD_EXAMPLES=OFF
      -DEXPAT_BUILD_TESTS=OFF -DEXPAT_BUILD_DOCS=OFF -DEXPAT_BUILD_FUZZERS=OFF
      -DEXPAT_BUILD_PKGCONFIG=OFF -DEXPAT_DTD=OFF "-DCMAKE_C_FLAGS=${c_flags}" ${urandom})
  endif()
  find_package(EXPAT)
  if(NOT EXPAT_FOUND)
    if(CMAKE_CROSSCOMPILING)
      set(how "configure with -DBMP2GRID_BUILD_EXPAT=ON to build it from Debian's source package, as the cross presets do")
    else()
      set(how "Debian: libexpat1-dev")
    endif()
    message(FATAL_ERROR "expat, which reads Tiled's TMX maps, was not found for ${CMAKE_SYSTEM_NAME} "
      "${CMAKE_SYSTEM_PROCESSOR} (${how})")
  endif()
  if(WIN32 AND link_options)
    # expat asks it of a static library's users: with Microsoft's
    # extensions (_MSC_EXTENSIONS), expat.h would otherwise declare its
    # functions as imported from a DLL. mingw-w64's g++ has none, so its
    # builds link either way.
    set_property(TARGET EXPAT::EXPAT APPEND PROPERTY INTERFACE_COMPILE_DEFINITIONS XML_STATIC)
  endif()

  include(CheckCXXSourceCompiles)
  set(CMAKE_REQUIRED_LIBRARIES EXPAT::EXPAT)
  set(CMAKE_REQUIRED_LINK_OPTIONS ${link_options})
  set(CMAKE_REQUIRED_QUIET ON)
  # XML_DTD declares the limits on entity expansion (expat 2.4.0 or later,
  # built with DTD support, as Debian's and BMP2GRID_BUILD_EXPAT's are).
  check_cxx_source_compiles([[
    #define XML_DTD
    #include <expat.h>
    int main(int argc, char**) {
      XML_Parser parser = XML_ParserCreate(nullptr);
      XML_SetBillionLaughsAttackProtectionMaximumAmplification(parser, 10.0f);
      XML_Status status = XML_Parse(parser, "<map/>", argc > 9 ? 0 : 6, XML_TRUE);
      XML_ParserFree(parser);
      return status == XML_STATUS_OK ? 0 : 1;
    }]] BMP2GRID_LINKS_EXPAT)
  if(NOT BMP2GRID_LINKS_EXPAT)
    message(FATAL_ERROR "expat (${EXPAT_LIBRARY}) was found, but a program can't link it with the "
      "programs' link options (${link_options}), or it has no limits on entity expansion "
      "(expat 2.4.0 or later, built with XML_DTD, has them); see CMakeFiles/CMakeError.log")
  endif()
  message(STATUS "expat ${EXPAT_VERSION_STRING}: ${EXPAT_LIBRARY}")
endfunction()

bmp2grid_find_expat()

# RapidJSON's headers only, in BMP2GRID_TMJ_INPUT and the interface target
# bmp2grid_rapidjson, whose folder is a system one (RapidJSON's document.h
# warns under -Wall -Wextra -Wpedantic with C++20; its SAX reader doesn't).
# Headers only are the same for every target, so a cross build takes the
# build machine's. But the folder they are found in (/usr/include on
# Debian) holds the build machine's C library too, which must never come
# into a cross compile: a cross build gets a copy of rapidjson/ alone, in
# its build folder, taken again at each configure.
function(bmp2grid_find_rapidjson)
  # Emscripten's tool chain file makes / the only system prefix: the
  # build machine's usual folders are named too.
  find_path(BMP2GRID_RAPIDJSON_INCLUDE_DIR rapidjson/reader.h
    PATHS /usr/local/include /usr/include NO_CMAKE_FIND_ROOT_PATH
    DOC "RapidJSON's headers (the folder holding rapidjson/), for TMJ input")
  set(without WARNING)
  if(BMP2GRID_WERROR)
    set(without FATAL_ERROR)
  endif()
  set(BMP2GRID_TMJ_INPUT OFF PARENT_SCOPE)
  if(NOT BMP2GRID_RAPIDJSON_INCLUDE_DIR)
    message(${without} "RapidJSON (Debian: rapidjson-dev) was not found: without it bmp2grid "
      "reads no Tiled JSON maps (.tmj); grid2bmp still writes them.")
    return()
  endif()
  set(include ${BMP2GRID_RAPIDJSON_INCLUDE_DIR})
  if(CMAKE_CROSSCOMPILING)
    set(include ${PROJECT_BINARY_DIR}/rapidjson-include)
    file(COPY ${BMP2GRID_RAPIDJSON_INCLUDE_DIR}/rapidjson DESTINATION ${include})
  endif()

  # The streaming reader (SAX, iterative) compiles with the project's
  # warnings; a compiler's own folders (a native /usr/include) are searched
  # already and must not be named again.
  set(flags "${CMAKE_CXX20_STANDARD_COMPILE_OPTION} -Wall -Wextra -Wpedantic")
  if(BMP2GRID_WERROR)
    string(APPEND flags " -Werror")
  endif()
  if(NOT include IN_LIST CMAKE_CXX_IMPLICIT_INCLUDE_DIRECTORIES)
    string(APPEND flags " -isystem ${include}")
  endif()
  include(CheckCXXSourceCompiles)
  set(CMAKE_REQUIRED_FLAGS ${flags})
  set(CMAKE_REQUIRED_QUIET ON)
  check_cxx_source_compiles([[
    #include <rapidjson/error/en.h>
    #include <rapidjson/reader.h>
    struct Count : rapidjson::BaseReaderHandler<rapidjson::UTF8<>, Count> {
      unsigned n = 0;
      bool Uint(unsigned) { ++n; return true; }
    };
    int main(int, char** argv) {
      rapidjson::StringStream stream(argv[0]);
      Count count;
      rapidjson::Reader reader;
      rapidjson::ParseResult result =
          reader.Parse<rapidjson::kParseIterativeFlag | rapidjson::kParseStopWhenDoneFlag>(stream, count);
      return result ? static_cast<int>(count.n) : *rapidjson::GetParseError_En(result.Code());
    }]] BMP2GRID_COMPILES_RAPIDJSON)
  if(NOT BMP2GRID_COMPILES_RAPIDJSON)
    message(${without} "RapidJSON (${BMP2GRID_RAPIDJSON_INCLUDE_DIR}) was found, but its reader does "
      "not compile with the project's flags (${flags}; see CMakeFiles/CMakeError.log): without it "
      "bmp2grid reads no Tiled JSON maps (.tmj); grid2bmp still writes them.")
    return()
  endif()
  add_library(bmp2grid_rapidjson INTERFACE)
  target_include_directories(bmp2grid_rapidjson SYSTEM INTERFACE ${include})
  set(BMP2GRID_TMJ_INPUT ON PARENT_SCOPE)
  message(STATUS "RapidJSON ${BMP2GRID_RAPIDJSON_INCLUDE_DIR}: ${include}")
endfunction()

bmp2grid_find_rapidjson()
