# The Debian package's files (BMP2GRID_DEBIAN_PACKAGE; included by
# bmp2grid_install.cmake), laid out as Debian's policy asks: the manual
# pages and the README compressed with `gzip -9n` (no name or time stamp
# inside, so the same text gives the same bytes), the licences in a
# machine-readable copyright file (cmake/deb/copyright.in, with LICENSE's
# holder and text), and changelog.Debian.gz for the package's version
# (cmake/deb/changelog.in). They are made when the build is configured,
# into <build folder>/deb.
#
# The package's programs link the system's shared libpng, zlib and expat,
# so that their security updates reach the package's users; its
# dependencies come from those libraries (dpkg-shlibdeps). The C and C++ runtimes are shared
# too: Debian's policy forbids a static C library, and a static C++ runtime
# made a small map's conversion only about a fifth faster
# (docs/performance.md, Start-up), not worth a copy inside the package that
# the runtime's own updates would not reach. The programs are hardened as
# Debian's own are (the deb preset's flags).

bmp2grid_program_link_options(bmp2grid_link_options)
if(bmp2grid_link_options)
  message(FATAL_ERROR "The Debian package links the system's shared libpng and zlib, so that their "
    "security updates reach its users, but this build links the programs statically "
    "(${bmp2grid_link_options}): configure it with -DBMP2GRID_STATIC=OFF, as the deb preset does.")
endif()
find_program(BMP2GRID_GZIP gzip REQUIRED)

set(bmp2grid_deb_dir ${PROJECT_BINARY_DIR}/deb)
file(MAKE_DIRECTORY ${bmp2grid_deb_dir})
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE)

# Writes FILE compressed with gzip -9n to <build folder>/deb/NAME.gz.
function(bmp2grid_gzip file name)
  execute_process(COMMAND ${BMP2GRID_GZIP} -9n -c ${file}
    OUTPUT_FILE ${bmp2grid_deb_dir}/${name}.gz RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${BMP2GRID_GZIP} -9n -c ${file} failed (${failed})")
  endif()
endfunction()

foreach(page bmp2grid grid2bmp)
  bmp2grid_gzip(${PROJECT_BINARY_DIR}/man/${page}.1 ${page}.1)
endforeach()
bmp2grid_gzip(${PROJECT_SOURCE_DIR}/README.md README.md)

# copyright: LICENSE's copyright line gives the holder and years, the text
# after it the licence, indented as the format asks (a blank line is " .").
file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
string(REPLACE "\r\n" "\n" licence "${licence}")
if(NOT licence MATCHES "\nCopyright \\(c\\) ([0-9][0-9, -]*[0-9]) ([^\n]+)\n\n")
  message(FATAL_ERROR "${PROJECT_SOURCE_DIR}/LICENSE has no line \"Copyright (c) YEARS HOLDER\" "
    "followed by a blank line and the licence's text")
endif()
set(copyright_years "${CMAKE_MATCH_1}")
set(copyright_holder "${CMAKE_MATCH_2}")
string(FIND "${licence}" "${CMAKE_MATCH_0}" at)
string(LENGTH "${CMAKE_MATCH_0}" length)
math(EXPR at "${at} + ${length}")
string(SUBSTRING "${licence}" ${at} -1 licence)
string(STRIP "${licence}" licence)
string(REGEX REPLACE "\n\n" "\n.\n" licence "${licence}")
string(REPLACE "\n" "\n " licence " ${licence}")
set(licence_text "${licence}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/deb/copyright.in ${bmp2grid_deb_dir}/copyright @ONLY)

# changelog.Debian.gz: one entry, for this version, dated by
# SOURCE_DATE_EPOCH where it is set, else by the last commit of a git
# checkout, else now; so building the same sources twice gives the same
# bytes.
set(package_version ${PROJECT_VERSION}-${BMP2GRID_DEBIAN_REVISION})
set(epoch "$ENV{SOURCE_DATE_EPOCH}")
if(epoch STREQUAL "")
  find_package(Git QUIET)
  if(GIT_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} -C ${PROJECT_SOURCE_DIR} log -1 --format=%ct
      OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed ERROR_QUIET)
    if(NOT failed AND commit_time MATCHES "^[0-9]+$")
      set(ENV{SOURCE_DATE_EPOCH} ${commit_time})
    endif()
  endif()
endif()
string(TIMESTAMP changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(ENV{SOURCE_DATE_EPOCH} "${epoch}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/deb/changelog.in ${bmp2grid_deb_dir}/changelog @ONLY)
bmp2grid_gzip(${bmp2grid_deb_dir}/changelog changelog.Debian)

install(TARGETS bmp2grid grid2bmp RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Stripped as Debian strips its own packages' programs (dh_strip): without
# the .comment section too, which only names the compiler.
install(CODE "
  foreach(program bmp2grid grid2bmp)
    set(file \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/\${program}\")
    execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note \"\${file}\"
      RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR \"${CMAKE_STRIP} could not strip \${file}\")
    endif()
  endforeach()")
install(FILES ${bmp2grid_deb_dir}/bmp2grid.1.gz ${bmp2grid_deb_dir}/grid2bmp.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${bmp2grid_deb_dir}/README.md.gz ${bmp2grid_deb_dir}/copyright
              ${bmp2grid_deb_dir}/changelog.Debian.gz
              ${PROJECT_SOURCE_DIR}/examples/sample.bmp ${PROJECT_SOURCE_DIR}/examples/sample.txt
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
# lintian's verdicts that do not apply to this package, each with its reason.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/deb/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME bmp2grid)
