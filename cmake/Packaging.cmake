# What an installation carries besides the executables, the dictionary, the icons and the .desktop
# file (installed beside their targets): manual pages, AppStream metadata, bash completion, and
# the copyright and changelog files. `cmake --install` installs them all; CPack builds the Debian
# package from that same installation, under /usr: `cpack -G DEB` in a release build tree, or
# `cmake --workflow --preset package`.

set(quenlitor_package quenlitor-midi-texto)
set(quenlitor_debian ${CMAKE_CURRENT_LIST_DIR}/debian)
set(quenlitor_docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/${quenlitor_package})

# The newest changelog entry carries the package's version and maintainer. Its version must be the
# project's, which the programs print for --version too: a new version needs its entry.
file(STRINGS ${quenlitor_debian}/changelog quenlitor_changelog)
list(GET quenlitor_changelog 0 quenlitor_newest)
if(NOT quenlitor_newest MATCHES "^${quenlitor_package} \\(([^)]+)\\)" OR NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "cmake/debian/changelog: the newest entry is \"${quenlitor_newest}\", "
                      "but the project's version is ${PROJECT_VERSION}; add an entry for it.")
endif()

# A package is for the release it is built on: its dependencies are that release's libraries
# (dpkg-shlibdeps). Its version says which, after a plus sign, from /etc/os-release: 0.1.0+deb12
# on Debian 12, 0.1.0+deb13 on Debian 13, 0.1.0+forky on Debian testing (the form of Debian's own
# stable updates of native packages, 1.2+deb12u1); the newer release's package sorts higher, so
# upgrading the system upgrades the package too. -DQUENLITOR_PACKAGE_RELEASE=… sets the part
# after the plus sign.
if(NOT DEFINED QUENLITOR_PACKAGE_RELEASE AND EXISTS /etc/os-release)
  file(STRINGS /etc/os-release os_release REGEX "^(ID|VERSION_ID|VERSION_CODENAME)=")
  set(os_ID "")
  set(os_VERSION_ID "")
  set(os_VERSION_CODENAME "")
  foreach(line IN LISTS os_release)
    if(line MATCHES "^([A-Z_]+)=\"?([^\"]*)\"?$")
      set(os_${CMAKE_MATCH_1} ${CMAKE_MATCH_2})
    endif()
  endforeach()
  if(os_ID STREQUAL "debian")
    set(os_ID deb)
  endif()
  if(os_VERSION_ID)
    set(QUENLITOR_PACKAGE_RELEASE ${os_ID}${os_VERSION_ID})
  else()
    set(QUENLITOR_PACKAGE_RELEASE ${os_VERSION_CODENAME})
  endif()
endif()
set(quenlitor_package_version ${PROJECT_VERSION})
if(QUENLITOR_PACKAGE_RELEASE)
  string(APPEND quenlitor_package_version "+${QUENLITOR_PACKAGE_RELEASE}")
endif()
# For scripts that look for the package (scripts/package-test.sh).
set(QUENLITOR_PACKAGE_VERSION ${quenlitor_package_version} CACHE INTERNAL "The Debian package's version")
foreach(line IN LISTS quenlitor_changelog)
  if(line MATCHES "^ -- (.+ <[^>]+>)  ")
    set(quenlitor_maintainer ${CMAKE_MATCH_1})
    break()
  endif()
endforeach()

# Manual pages, with the version filled in; installed compressed as Debian wants them (-n: no name
# or time stamp inside, so the same page always gives the same bytes).
set(quenlitor_man_pages quenlitor-tokens)
if(TARGET quenlitor-midi-texto)
  list(APPEND quenlitor_man_pages quenlitor-midi-texto)
endif()
set(quenlitor_compressed)
foreach(page IN LISTS quenlitor_man_pages)
  configure_file(${PROJECT_SOURCE_DIR}/docs/man/${page}.1.in ${PROJECT_BINARY_DIR}/share/${page}.1 @ONLY)
  list(APPEND quenlitor_compressed ${PROJECT_BINARY_DIR}/share/${page}.1.gz)
endforeach()
configure_file(${quenlitor_debian}/changelog ${PROJECT_BINARY_DIR}/share/changelog COPYONLY)
foreach(file IN LISTS quenlitor_compressed ITEMS ${PROJECT_BINARY_DIR}/share/changelog.gz)
  string(REGEX REPLACE "\\.gz$" "" plain ${file})
  add_custom_command(OUTPUT ${file} COMMAND gzip -9 -n -k -f ${plain} DEPENDS ${plain} VERBATIM)
endforeach()
add_custom_target(quenlitor-compressed-docs ALL DEPENDS ${quenlitor_compressed} ${PROJECT_BINARY_DIR}/share/changelog.gz)
install(FILES ${quenlitor_compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${quenlitor_debian}/copyright ${PROJECT_BINARY_DIR}/share/changelog.gz DESTINATION ${quenlitor_docdir})

install(FILES ${PROJECT_SOURCE_DIR}/resources/bash-completion/quenlitor-tokens
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

# AppStream metadata. Its screenshots need the public address of docs/bandeja.png and
# docs/menu.png; until the project publishes them, the file goes without screenshots.
set(QUENLITOR_SCREENSHOT_URL "" CACHE STRING "Public address of the folder that holds docs/bandeja.png and docs/menu.png, for the AppStream metadata")
if(TARGET quenlitor-midi-texto)
  set(quenlitor_metainfo_in ${PROJECT_SOURCE_DIR}/resources/local.quenlitor.midi-texto.metainfo.xml.in)
  set(quenlitor_metainfo ${PROJECT_BINARY_DIR}/share/local.quenlitor.midi-texto.metainfo.xml)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${quenlitor_metainfo_in})
  file(READ ${quenlitor_metainfo_in} metainfo)
  if(NOT QUENLITOR_SCREENSHOT_URL)
    string(REGEX REPLACE " *<screenshots>.*</screenshots>\n" "" metainfo "${metainfo}")
  endif()
  file(CONFIGURE OUTPUT ${quenlitor_metainfo} CONTENT "${metainfo}" @ONLY)
  install(FILES ${quenlitor_metainfo} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()

# The Debian package. Its dependencies come from the executables' libraries (dpkg-shlibdeps).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${quenlitor_package})
set(CPACK_PACKAGE_CONTACT ${quenlitor_maintainer})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "texto para la fuente Quenlitor Keyboard desde un teclado MIDI")
set(CPACK_PACKAGE_DESCRIPTION_FILE ${quenlitor_debian}/description)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_PACKAGE_VERSION ${quenlitor_package_version})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
