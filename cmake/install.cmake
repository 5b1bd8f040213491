# What a user receives. The Windows program installs beside the texts of the
# release zip, with the line ends Windows readers expect. The Linux program
# installs as a command with its manual page, copyright and changelog:
# debian/rules builds the Debian package from exactly these rules, so
# `cmake --install --strip` into a prefix and the package hold the same files.

# Installed folders are 0755 whatever the umask of the machine that builds.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

if(WIN32)
  install(TARGETS tarvik RUNTIME DESTINATION .)
  foreach(_tarvik_text doc/README.txt LICENSE:LICENSE.txt examples/install-log.nsi)
    string(REGEX REPLACE ":.*" "" _tarvik_from "${_tarvik_text}")
    string(REGEX REPLACE ".*[:/]" "" _tarvik_to "${_tarvik_text}")
    configure_file(${_tarvik_from} ${CMAKE_CURRENT_BINARY_DIR}/zip/${_tarvik_to} @ONLY NEWLINE_STYLE CRLF)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/zip/${_tarvik_to} DESTINATION .)
  endforeach()
  return()
endif()

set(CMAKE_INSTALL_DOCDIR share/doc/tarvik CACHE PATH "Documentation folder")
include(GNUInstallDirs)

# The manual page names the version in its footer. gzip -n leaves out the
# name and time stamp, so the same text always compresses to the same bytes.
configure_file(doc/tarvik.1 ${CMAKE_CURRENT_BINARY_DIR}/tarvik.1 @ONLY)
configure_file(debian/changelog ${CMAKE_CURRENT_BINARY_DIR}/changelog COPYONLY)
foreach(_tarvik_doc tarvik.1 changelog)
  add_custom_command(
    OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/${_tarvik_doc}.gz
    COMMAND gzip -9nkf ${CMAKE_CURRENT_BINARY_DIR}/${_tarvik_doc}
    DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/${_tarvik_doc}
    VERBATIM)
endforeach()
add_custom_target(tarvik_docs ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/tarvik.1.gz
                                          ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)

install(TARGETS tarvik RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tarvik.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES debian/copyright ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
