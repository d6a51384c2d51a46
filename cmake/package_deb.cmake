# Run by CPack on each finished package. CPack 3.25 gives a Debian package
# with a shared library in /usr/lib a postinst and a postrm that call
# ldconfig, with no switch to stop it; the package's ldconfig trigger does
# that work, and a postrm would keep the package's record after
# `apt remove` until a purge. The .deb is made again without them.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${ARGN} failed")
  endif()
endfunction()

set(tree ${CPACK_TOPLEVEL_DIRECTORY}/without_scripts)
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  file(REMOVE_RECURSE ${tree})
  run(dpkg-deb --raw-extract ${package} ${tree})
  file(REMOVE ${tree}/DEBIAN/postinst ${tree}/DEBIAN/postrm)
  run(dpkg-deb --root-owner-group -Z${CPACK_DEBIAN_COMPRESSION_TYPE} --build ${tree} ${package})
  file(REMOVE_RECURSE ${tree})
endforeach()
