# The libraries that read Tiled maps: expat (TMX, an XML format) and
# RapidJSON (TMJ, Tiled's JSON format), found here for every folder.
#
# A native build uses the system's expat (Debian: libexpat1-dev, on every
# Debian machine with a compiler). RapidJSON is a library of headers only
# (Debian: rapidjson-dev); where it is not found, bmp2grid is built without
# TMJ input (BMP2GRID_TMJ_INPUT is OFF) and says so when given a TMJ map.
find_package(EXPAT)
if(NOT EXPAT_FOUND)
  message(FATAL_ERROR "expat, which reads Tiled's TMX maps, was not found for ${CMAKE_SYSTEM_NAME} "
    "${CMAKE_SYSTEM_PROCESSOR} (Debian: libexpat1-dev)")
endif()

# Headers only: the same for every target, so a cross build may take the
# build machine's.
find_path(BMP2GRID_RAPIDJSON_INCLUDE_DIR rapidjson/reader.h NO_CMAKE_FIND_ROOT_PATH
  DOC "RapidJSON's headers (the folder holding rapidjson/), for TMJ input")
if(BMP2GRID_RAPIDJSON_INCLUDE_DIR)
  set(BMP2GRID_TMJ_INPUT ON)
  add_library(bmp2grid_rapidjson INTERFACE)
  target_include_directories(bmp2grid_rapidjson SYSTEM INTERFACE ${BMP2GRID_RAPIDJSON_INCLUDE_DIR})
  message(STATUS "expat ${EXPAT_VERSION_STRING}: ${EXPAT_LIBRARIES}; RapidJSON: ${BMP2GRID_RAPIDJSON_INCLUDE_DIR}")
else()
  set(BMP2GRID_TMJ_INPUT OFF)
  message(WARNING "RapidJSON (Debian: rapidjson-dev) was not found: bmp2grid is built without "
    "reading Tiled's JSON maps (.tmj); grid2bmp still writes them.")
  message(STATUS "expat ${EXPAT_VERSION_STRING}: ${EXPAT_LIBRARIES}")
endif()
