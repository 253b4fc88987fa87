# Run by CPack after it made the packages (CPACK_POST_BUILD_SCRIPTS): puts the
# debug symbols package the way Debian's own dbgsym packages are. CPack 3.25
# names its file in md5sums by the staging path, leaves it executable, and the
# package lacks the documentation link to the program's package (copyright
# and changelog).
find_program(DPKG_DEB dpkg-deb REQUIRED)
set(ddebs ${CPACK_PACKAGE_FILES})
list(FILTER ddebs INCLUDE REGEX "-dbgsym_[^/]*\\.ddeb$")
foreach(ddeb IN LISTS ddebs)
  set(tree "${CPACK_TOPLEVEL_DIRECTORY}/dbgsym-tree")
  file(REMOVE_RECURSE "${tree}")
  execute_process(COMMAND "${DPKG_DEB}" --raw-extract "${ddeb}" "${tree}" COMMAND_ERROR_IS_FATAL ANY)
  file(STRINGS "${tree}/DEBIAN/control" package REGEX "^Package: ")
  string(REGEX REPLACE "^Package: (.*)-dbgsym$" "\\1" program "${package}")
  file(MAKE_DIRECTORY "${tree}/usr/share/doc")
  file(CREATE_LINK "${program}" "${tree}/usr/share/doc/${program}-dbgsym" SYMBOLIC)
  file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${tree}" "${tree}/usr/*")
  list(SORT files)
  set(sums "")
  foreach(path IN LISTS files)
    if(NOT IS_SYMLINK "${tree}/${path}")
      file(CHMOD "${tree}/${path}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
      file(MD5 "${tree}/${path}" sum)
      string(APPEND sums "${sum}  ${path}\n")
    endif()
  endforeach()
  file(WRITE "${tree}/DEBIAN/md5sums" "${sums}")
  execute_process(COMMAND "${DPKG_DEB}" --root-owner-group -Zxz --build "${tree}" "${ddeb}"
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE "${tree}")
endforeach()
