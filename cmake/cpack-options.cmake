# Read by cpack when it packages. dpkg-shlibdeps derives the library dependencies,
# with their versions, from the binary; where it or `file` (which cpack needs to
# find the binaries) is missing, the fixed list is declared instead.
# QUIBEX_DEB_FIXED_DEPENDS=1 asks for the fixed list, for the check that compares them.
if(CPACK_GENERATOR STREQUAL "DEB")
  find_program(QUIBEX_SHLIBDEPS dpkg-shlibdeps)
  find_program(QUIBEX_FILE file)
  if(QUIBEX_SHLIBDEPS AND QUIBEX_FILE AND NOT "$ENV{QUIBEX_DEB_FIXED_DEPENDS}" STREQUAL "1")
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "${CPACK_QUIBEX_LIBRARY_DEPENDS}, ${CPACK_DEBIAN_PACKAGE_DEPENDS}")
  endif()
endif()
