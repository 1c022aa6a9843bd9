# Installs the build into a temporary prefix and runs the installed programs
# on the installed sample: the picture to map text (which must be the sample
# map text), and that map text back to a picture and again to map text.
#   cmake -DBUILD=<build folder> -DPREFIX=<temporary prefix> -DBINDIR=bin
#         -DMANDIR=share/man -DDOCDIR=share/doc/bmp2grid -DVERSION=<x.y.z>
#         [-DEMULATOR=<command>] -P install_test.cmake
file(REMOVE_RECURSE ${PREFIX})

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${ARGN}: exit status ${status}\n${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD} --prefix ${PREFIX})

set(doc ${PREFIX}/${DOCDIR})
foreach(file ${BINDIR}/bmp2grid ${BINDIR}/grid2bmp ${MANDIR}/man1/bmp2grid.1 ${MANDIR}/man1/grid2bmp.1
             ${DOCDIR}/README.md ${DOCDIR}/LICENSE ${DOCDIR}/sample.bmp ${DOCDIR}/sample.txt)
  if(NOT EXISTS ${PREFIX}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()

set(bmp2grid ${EMULATOR} ${PREFIX}/${BINDIR}/bmp2grid)
set(grid2bmp ${EMULATOR} ${PREFIX}/${BINDIR}/grid2bmp)
run(${bmp2grid} --version)
if(NOT out STREQUAL "bmp2grid ${VERSION}\n")
  message(FATAL_ERROR "bmp2grid --version printed \"${out}\"")
endif()
run(${bmp2grid} ${doc}/sample.bmp ${PREFIX}/map.txt)
run(${CMAKE_COMMAND} -E compare_files ${PREFIX}/map.txt ${doc}/sample.txt)
run(${grid2bmp} --palette ${doc}/sample.bmp ${doc}/sample.txt ${PREFIX}/back.bmp)
run(${bmp2grid} ${PREFIX}/back.bmp ${PREFIX}/again.txt)
run(${CMAKE_COMMAND} -E compare_files ${PREFIX}/again.txt ${doc}/sample.txt)

file(REMOVE_RECURSE ${PREFIX})
