# The Debian package of the Linux shell: the program, its .desktop entry and
# its icon, as the install rules in shell/CMakeLists.txt place them.
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "quorvel")
set(CPACK_PACKAGE_VENDOR "Quorvel")
set(CPACK_PACKAGE_CONTACT "Quorvel developers <dev@quorvel.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Quorvel web mail in its own borderless window")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "mail")
# The library dependencies are read from the executable itself.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
