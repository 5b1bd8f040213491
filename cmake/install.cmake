# What a user receives. The Windows program installs in a folder named for its
# processor (x86, x64) beside the texts of the release zip, with the line ends
# Windows readers expect. The Linux program installs as a command with its
# manual page and copyright: debian/rules builds the Debian package from
# exactly these rules, so `cmake --install --strip` into a prefix and the
# package hold the same files, the package adding its changelog
# (debian/changelog, Debian's place for it).

# Installed folders are 0755 whatever the umask of the machine that builds.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

if(WIN32)
  # Each build's exe in a folder of its own (x86, x64); the texts are the same from either.
  install(TARGETS tarvik RUNTIME DESTINATION ${TARVIK_ARCH})
  # README.txt says whether the zip's exes are signed: scripts/package
  # signs it when its environment, which this build shares, names a key.
  if("$ENV{TARVIK_SIGN_P12}$ENV{TARVIK_SIGN_PKCS11_KEY}" STREQUAL "")
    set(TARVIK_SIGNATURE "are not signed: no code-signing key was given.")
  else()
    set(TARVIK_SIGNATURE "are signed with Authenticode.")
  endif()
  foreach(_tarvik_text doc/README.txt LICENSE:LICENSE.txt examples/install-log.nsi examples/install-log.wxs)
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
# Its date is the top changelog entry's, as its version is: "December 7, 2026".
file(STRINGS debian/changelog _tarvik_trailer REGEX "^ -- " LIMIT_COUNT 1)
if(NOT _tarvik_trailer MATCHES ", 0?([0-9]+) ([A-Z][a-z][a-z]) ([0-9]+) ")
  message(FATAL_ERROR "no date in the top entry of debian/changelog: \"${_tarvik_trailer}\"")
endif()
set(_tarvik_months Jan January Feb February Mar March Apr April May May Jun June Jul July
                   Aug August Sep September Oct October Nov November Dec December)
list(FIND _tarvik_months "${CMAKE_MATCH_2}" _tarvik_month)
math(EXPR _tarvik_month "${_tarvik_month} + 1")
list(GET _tarvik_months ${_tarvik_month} _tarvik_month)
set(TARVIK_MANUAL_DATE "${_tarvik_month} ${CMAKE_MATCH_1}, ${CMAKE_MATCH_3}")
configure_file(doc/tarvik.1 ${CMAKE_CURRENT_BINARY_DIR}/tarvik.1 @ONLY)
add_custom_command(
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/tarvik.1.gz
  COMMAND gzip -9nkf ${CMAKE_CURRENT_BINARY_DIR}/tarvik.1
  DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/tarvik.1
  VERBATIM)
add_custom_target(tarvik_docs ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/tarvik.1.gz)

install(TARGETS tarvik RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tarvik.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES debian/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
