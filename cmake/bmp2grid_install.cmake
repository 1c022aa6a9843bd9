# What `cmake --install` puts where, and the packages CPack makes of it.
#
# Linux and other Unix systems:
#   bin/                      bmp2grid, grid2bmp
#   share/man/man1/           bmp2grid.1, grid2bmp.1
#   share/doc/bmp2grid/       README.md, LICENSE, sample.bmp, sample.txt
# The Debian package (BMP2GRID_DEBIAN_PACKAGE, the deb preset; its prefix is
# /usr) lays its files out as Debian's policy asks:
#   bin/                      bmp2grid, grid2bmp
#   share/man/man1/           bmp2grid.1.gz, grid2bmp.1.gz
#   share/doc/bmp2grid/       README.md.gz, copyright, changelog.Debian.gz,
#                             sample.bmp, sample.txt
#   share/lintian/overrides/  bmp2grid
# Windows (the zip): everything in one folder, the text files as README.txt
# and LICENSE.txt with CR LF line ends and a UTF-8 byte-order mark.
include(GNUInstallDirs)

# The manual pages, with the project's version filled in.
foreach(page bmp2grid grid2bmp)
  configure_file(${PROJECT_SOURCE_DIR}/man/${page}.1.in ${PROJECT_BINARY_DIR}/man/${page}.1 @ONLY)
endforeach()

if(WIN32)
  # Text files with CR LF line ends, whatever the line ends of the checkout,
  # and a UTF-8 byte-order mark, without which older versions of Notepad
  # take UTF-8 (the README's arrows and signs) for the ANSI code page.
  string(ASCII 239 187 191 utf8_bom)
  foreach(pair "README.md;README.txt" "LICENSE;LICENSE.txt")
    list(GET pair 0 from)
    list(GET pair 1 to)
    file(READ ${PROJECT_SOURCE_DIR}/${from} text)
    string(REPLACE "\r\n" "\n" text "${text}")
    string(REPLACE "\n" "\r\n" text "${text}")
    file(WRITE ${PROJECT_BINARY_DIR}/crlf/${to} "${utf8_bom}${text}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${from})
  endforeach()
  install(TARGETS bmp2grid grid2bmp RUNTIME DESTINATION .)
  install(FILES ${PROJECT_BINARY_DIR}/crlf/README.txt ${PROJECT_BINARY_DIR}/crlf/LICENSE.txt DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/examples/sample.bmp ${PROJECT_SOURCE_DIR}/examples/sample.txt DESTINATION .)
elseif(BMP2GRID_DEBIAN_PACKAGE)
  include(${CMAKE_CURRENT_LIST_DIR}/bmp2grid_debian.cmake)
else()
  install(TARGETS bmp2grid grid2bmp RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_BINARY_DIR}/man/bmp2grid.1 ${PROJECT_BINARY_DIR}/man/grid2bmp.1
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
                ${PROJECT_SOURCE_DIR}/examples/sample.bmp ${PROJECT_SOURCE_DIR}/examples/sample.txt
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

# Packages: the Debian package from a build with BMP2GRID_DEBIAN_PACKAGE,
# `cpack -G ZIP` for a Windows build (see the deb, windows-x64-zip and
# windows-x86-zip workflows). They are written to <build folder>/packages.
set(CPACK_PACKAGE_NAME bmp2grid)
set(CPACK_PACKAGE_VENDOR "The bmp2grid authors")
set(CPACK_PACKAGE_CONTACT "${BMP2GRID_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "convert palettized BMP and PNG pictures into map text and back")
set(CPACK_PACKAGE_DESCRIPTION
  "bmp2grid converts an 8-bit palettized BMP picture, or an indexed PNG, into
map text: a plain-text grid in which every cell carries the palette index of
one picture pixel, sampled along a skewed, horizontally wrapping grid.
grid2bmp turns map text back into a BMP or PNG picture that any viewer or
paint program opens.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
if(WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_SYSTEM_NAME win64)
  else()
    set(CPACK_SYSTEM_NAME win32)
  endif()
  set(CPACK_GENERATOR ZIP)
elseif(BMP2GRID_DEBIAN_PACKAGE)
  set(CPACK_GENERATOR DEB)
else()
  # Without the Debian layout, a plain archive of what `cmake --install`
  # puts in place.
  set(CPACK_GENERATOR TGZ)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The package's version is the project's, then the package's own revision
# (bmp2grid_<version>-1): the project is not made for Debian alone, so its
# package is not a Debian-native one, and its changelog is
# changelog.Debian.gz.
set(CPACK_DEBIAN_PACKAGE_RELEASE ${BMP2GRID_DEBIAN_REVISION})
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The dependencies are those of the programs' shared libraries
# (dpkg-shlibdeps): libpng (which brings zlib) and the C and C++ runtimes.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
