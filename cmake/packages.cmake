# The packages, made by `cmake --workflow --preset package`: a Debian package
# and a .tar.gz of the same install tree. Debian's changelog names the
# package, its release and its maintainer; dpkg-shlibdeps names its
# dependencies from the binaries; package_stage.cmake adds what Debian asks
# for to each staged tree.
set(changelog ${CMAKE_CURRENT_LIST_DIR}/changelog.Debian)
file(STRINGS ${changelog} changelog_lines)
list(GET changelog_lines 0 changelog_top)
if(NOT changelog_top MATCHES "^([a-z0-9.+-]+) \\(([^)]+)-([^)-]+)\\) ")
  message(FATAL_ERROR "${changelog}: the first line names no package and version")
endif()
set(CPACK_DEBIAN_PACKAGE_NAME ${CMAKE_MATCH_1})
set(CPACK_QELEGA_CHANGELOG_VERSION ${CMAKE_MATCH_2})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${CMAKE_MATCH_3})
list(FILTER changelog_lines INCLUDE REGEX "^ -- ")
list(GET changelog_lines 0 changelog_trailer)
string(REGEX REPLACE "^ -- (.*>)  .*" "\\1" CPACK_PACKAGE_CONTACT "${changelog_trailer}")

set(CPACK_GENERATOR DEB TGZ)
set(CPACK_PACKAGE_FILE_NAME
  ${PROJECT_NAME}-${PROJECT_VERSION}-${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "convert game tile files to BMP tile sheets and back")
set(CPACK_PACKAGE_DESCRIPTION [[
qelega_shapes turns the decoded EGA or CGA tile file of a tile-based game
(TILES.16 or TILES.4) into one 256 x 512 BMP tile sheet, remaking the water
tiles and recolouring on request; qelega_pack packs an edited sheet, BMP or
PNG, back into the tile file.

The package also holds the qelega_bitmap library (BMP writer, validating and
lenient readers, pixel-format converter), static and shared, with its C
header, CMake package and pkg-config file, and the tool's page, one HTML file
that does the same in a browser.]])
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/package_stage.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/package_deb.cmake)
set(CPACK_QELEGA_CHANGELOG ${changelog})
set(CPACK_QELEGA_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_QELEGA_LIBDIR ${CMAKE_INSTALL_LIBDIR})
set(CPACK_QELEGA_MANDIR ${CMAKE_INSTALL_MANDIR})

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# ldconfig runs once, after every package that installs shared libraries.
file(WRITE ${PROJECT_BINARY_DIR}/deb/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/deb/triggers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
