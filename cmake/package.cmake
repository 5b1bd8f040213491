# What a user receives. The Windows program installs beside its README and
# license: the contents of the release zip. The Linux program installs as a
# command with its manual page, copyright and changelog, and CPack makes the
# Debian package from exactly these rules, so `cmake --install --strip` into
# a prefix and the package hold the same files.

# Installed folders are 0755 whatever the umask of the machine that builds.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

if(WIN32)
  install(TARGETS tarvik RUNTIME DESTINATION .)
  install(FILES README.md DESTINATION .)
  install(FILES LICENSE DESTINATION . RENAME LICENSE.txt)
  return()
endif()

set(CMAKE_INSTALL_DOCDIR share/doc/tarvik CACHE PATH "Documentation folder")
include(GNUInstallDirs)

# A new version needs its own changelog entry before it can be built.
file(STRINGS doc/changelog _tarvik_changelog_top LIMIT_COUNT 1)
if(NOT _tarvik_changelog_top MATCHES "^tarvik \\(([^)]*)\\)" OR
   NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "doc/changelog starts with \"${_tarvik_changelog_top}\", "
                      "not with an entry for version ${PROJECT_VERSION}")
endif()

# gzip -n leaves out the name and time stamp, so the same text always
# compresses to the same bytes.
foreach(_tarvik_doc tarvik.1 changelog)
  add_custom_command(
    OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/${_tarvik_doc}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_SOURCE_DIR}/doc/${_tarvik_doc}
            ${CMAKE_CURRENT_BINARY_DIR}/${_tarvik_doc}
    COMMAND gzip -9nf ${CMAKE_CURRENT_BINARY_DIR}/${_tarvik_doc}
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/doc/${_tarvik_doc}
    VERBATIM)
endforeach()
add_custom_target(tarvik_docs ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/tarvik.1.gz
                                          ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)

install(TARGETS tarvik RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tarvik.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES doc/copyright ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvik)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "The Tarvik authors <tarvik@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "copy an installer's log file into a folder, making the folder first")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Tarvik is a small, silent utility that installers run at their end. Given\n"
  "one argument text of three fields separated by commas (source file, target\n"
  "folder, target name), it makes sure that the target folder and every\n"
  "missing folder above it exist, copies the source file there under the\n"
  "target name and ends.\n"
  "\n"
  "It prints nothing, reads no configuration and always exits with status 0.\n"
  "The copy is written beside the target and renamed over it only when\n"
  "complete, so the target is never left torn.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
