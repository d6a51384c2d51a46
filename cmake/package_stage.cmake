# Run by CPack on each staged install tree before it makes the package. The
# manual pages are gzipped, as man-db reads them and Debian wants them. The
# Debian package alone gets its copyright file (LICENSE in Debian's
# machine-readable format) and compressed changelog, and a pkg-config file
# with the absolute prefix, which pkg-config then leaves out of its answers.
set(root ${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX})
set(file_mode OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

function(gzip_file path)
  execute_process(COMMAND gzip -9nf ${path} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip ${path} failed")
  endif()
endfunction()

file(GLOB pages ${root}/${CPACK_QELEGA_MANDIR}/man*/*.[1-9])
foreach(page IN LISTS pages)
  gzip_file(${page})
endforeach()

if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()

if(NOT CPACK_QELEGA_CHANGELOG_VERSION STREQUAL CPACK_PACKAGE_VERSION)
  message(FATAL_ERROR "${CPACK_QELEGA_CHANGELOG}: the newest entry is for "
    "${CPACK_QELEGA_CHANGELOG_VERSION}; add one for ${CPACK_PACKAGE_VERSION}")
endif()
set(doc ${root}/share/doc/${CPACK_DEBIAN_PACKAGE_NAME})
if(NOT EXISTS ${doc})
  message(FATAL_ERROR "Debian wants the documentation in share/doc/${CPACK_DEBIAN_PACKAGE_NAME}, "
    "as the package preset has it: make the packages with `cmake --workflow --preset package`")
endif()

# Debian calls the MIT licence's text Expat.
file(READ ${CPACK_QELEGA_LICENSE} license)
if(NOT license MATCHES "^MIT License\n\nCopyright \\(c\\) ([^\n]+)\n\n(.*[^\n])\n*$")
  message(FATAL_ERROR "${CPACK_QELEGA_LICENSE} is not the MIT licence with one copyright line")
endif()
set(holders ${CMAKE_MATCH_1})
string(REGEX REPLACE "\n\n" "\n.\n" text "${CMAKE_MATCH_2}")
string(REGEX REPLACE "\n" "\n " text "${text}")
file(WRITE ${doc}/copyright
  "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
  "Upstream-Name: ${CPACK_PACKAGE_NAME}\n"
  "Upstream-Contact: ${CPACK_PACKAGE_CONTACT}\n"
  "\n"
  "Files: *\n"
  "Copyright: ${holders}\n"
  "License: Expat\n"
  "\n"
  "Files: usr/share/qelega_shapes/index.html\n"
  "Copyright: ${holders}\n"
  " and the authors of the libraries the page bundles\n"
  "License: Expat\n"
  "Comment: The page bundles JavaScript libraries and Emscripten's runtime, all\n"
  " under the Expat (MIT) licence; the comment at the top of the file names each\n"
  " with its copyright and licence text.\n"
  "\n"
  "License: Expat\n"
  " ${text}\n")
file(COPY_FILE ${CPACK_QELEGA_CHANGELOG} ${doc}/changelog.Debian)
gzip_file(${doc}/changelog.Debian)
file(CHMOD ${doc}/copyright ${doc}/changelog.Debian.gz PERMISSIONS ${file_mode})

set(pc ${root}/${CPACK_QELEGA_LIBDIR}/pkgconfig/qelega_bitmap.pc)
file(READ ${pc} text)
string(REGEX REPLACE "^prefix=[^\n]*" "prefix=${CPACK_PACKAGING_INSTALL_PREFIX}" text "${text}")
file(WRITE ${pc} "${text}")
