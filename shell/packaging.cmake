# The Debian package of the Linux shell: the program and the probe with their
# manual pages, the .desktop entry and icons (install rules in
# shell/CMakeLists.txt and tools/CMakeLists.txt), the AppStream metainfo, and
# the copyright and changelog that Debian's tools look for.
include(GNUInstallDirs)
find_program(QUORVEL_GZIP gzip REQUIRED)

# The changelog's and the metainfo's newest entries name the version being
# packaged, so that neither goes out stale.
set(quorvel_changelog ${CMAKE_SOURCE_DIR}/data/debian/changelog)
set(quorvel_metainfo ${CMAKE_SOURCE_DIR}/data/example.quorvel.quorvel.metainfo.xml)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${quorvel_changelog} ${quorvel_metainfo})
file(STRINGS ${quorvel_changelog} quorvel_changelog_top LIMIT_COUNT 1)
if(NOT quorvel_changelog_top MATCHES "^quorvel \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "data/debian/changelog starts with '${quorvel_changelog_top}': "
    "add an entry for version ${PROJECT_VERSION} on top")
endif()
file(STRINGS ${quorvel_metainfo} quorvel_release_top REGEX "<release " LIMIT_COUNT 1)
if(NOT quorvel_release_top MATCHES "version=\"${PROJECT_VERSION}\"")
  message(FATAL_ERROR "The metainfo's first release is '${quorvel_release_top}': "
    "add a release ${PROJECT_VERSION} on top")
endif()

# Manual pages and the changelog are installed compressed, as Debian's policy
# asks: -n keeps the name and time out, so the bytes depend on the text alone.
set(package_dir ${CMAKE_CURRENT_BINARY_DIR}/package)
set(quorvel_gzipped)
foreach(source data/man/quorvel.1 data/man/quorvel-get.1 data/debian/changelog)
  get_filename_component(name ${source} NAME)
  set(plain ${package_dir}/${name})
  add_custom_command(OUTPUT ${plain}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/${source} ${plain}
    COMMAND ${QUORVEL_GZIP} -9nf ${plain}
    DEPENDS ${CMAKE_SOURCE_DIR}/${source}
    VERBATIM)
  list(APPEND quorvel_gzipped ${plain}.gz)
endforeach()
add_custom_target(quorvel_package_files ALL DEPENDS ${quorvel_gzipped})
install(FILES ${package_dir}/quorvel.1.gz ${package_dir}/quorvel-get.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${package_dir}/changelog.gz ${CMAKE_SOURCE_DIR}/data/debian/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${quorvel_metainfo} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "quorvel")
set(CPACK_PACKAGE_VENDOR "Quorvel")
set(CPACK_PACKAGE_CONTACT "Quorvel developers <dev@quorvel.example>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://quorvel.example/")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "web mail in its own borderless desktop window")
set(CPACK_PACKAGE_DESCRIPTION "Quorvel opens one borderless window, centred on the screen, whose whole
area is a web view showing the Quorvel web mail start page. The first time
it runs for a user, it sends one install report to the Quorvel report
server.

The package also holds quorvel-get, a probe that runs the install report's
HTTP exchange once against a given URL and prints what it saw, for the
people who run a report server.")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
# Whatever the umask of the machine that builds the package.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "mail")
# The library dependencies are read from the executables themselves.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Spell checking marks nothing without a dictionary.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "hunspell-en-us | hunspell-dictionary")
# The binaries ship stripped and no debug package is made: CPack's -dbgsym
# package lists its files under the build folder's paths in its md5sums.
set(CPACK_STRIP_FILES ON)
include(CPack)
