# What is installed besides the program, and the packages made from it:
# on Linux a Debian package (cmdclient_<version>_amd64.deb), on Windows a zip
# (cmdclient-<version>-win64.zip) with the program, README.md (and the docs it
# links to), LICENSE and the manual as plain text.
include(GNUInstallDirs)

# The version is the project's; the build writes it into the program, the
# manual page and the package names. Where it is written by hand (both change
# logs, and the package names in the README), a release that forgot one of
# them would describe another version.
string(REPLACE "." "\\." version_pattern "${PROJECT_VERSION}")
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/changelog package_entry LIMIT_COUNT 1)
file(STRINGS ${PROJECT_SOURCE_DIR}/CHANGELOG.md release_notes REGEX "^## \\[${version_pattern}\\]")
file(READ ${PROJECT_SOURCE_DIR}/README.md readme)
string(REGEX MATCHALL "cmdclient[_-][0-9]+\\.[0-9]+\\.[0-9]+" readme_names "${readme}")
list(FILTER readme_names EXCLUDE REGEX "[_-]${version_pattern}$")
if(NOT package_entry MATCHES "^cmdclient \\(${version_pattern}\\) " OR NOT release_notes
   OR readme_names)
  message(FATAL_ERROR "packaging/changelog (first entry), CHANGELOG.md (a "
                      "'## [${PROJECT_VERSION}]' section) and the package names in README.md "
                      "must all name version ${PROJECT_VERSION} (README.md: ${readme_names})")
endif()

set(docs ${CMAKE_BINARY_DIR}/docs)
configure_file(${PROJECT_SOURCE_DIR}/man/cmdclient.1 ${docs}/cmdclient.1 @ONLY)
if(WIN32)
  find_program(GROFF groff REQUIRED)
  add_custom_command(
    OUTPUT ${docs}/cmdclient.txt
    COMMAND ${CMAKE_COMMAND} -DGROFF=${GROFF} -DINPUT=${docs}/cmdclient.1
            -DOUTPUT=${docs}/cmdclient.txt -P ${PROJECT_SOURCE_DIR}/cmake/man-to-text.cmake
    DEPENDS ${docs}/cmdclient.1 ${PROJECT_SOURCE_DIR}/cmake/man-to-text.cmake
    COMMENT "Rendering the manual page as text")
  # The texts in the zip have Windows' line ends, as its editors expect.
  set(texts ${docs}/cmdclient.txt)
  # README.md and every document it links to.
  foreach(source README.md LICENSE CHANGELOG.md docs/reliability.md docs/performance.md
                 docs/testing.md)
    add_custom_command(
      OUTPUT ${docs}/zip/${source}
      COMMAND ${CMAKE_COMMAND} -DINPUT=${PROJECT_SOURCE_DIR}/${source}
              -DOUTPUT=${docs}/zip/${source} -P ${PROJECT_SOURCE_DIR}/cmake/crlf.cmake
      DEPENDS ${PROJECT_SOURCE_DIR}/${source} ${PROJECT_SOURCE_DIR}/cmake/crlf.cmake
      COMMENT "Giving ${source} CR LF line ends")
    list(APPEND texts ${docs}/zip/${source})
  endforeach()
  add_custom_target(docs ALL DEPENDS ${texts})
  install(FILES ${docs}/zip/README.md ${docs}/zip/LICENSE ${docs}/zip/CHANGELOG.md
                ${docs}/cmdclient.txt
          DESTINATION .)
  install(FILES ${docs}/zip/docs/reliability.md ${docs}/zip/docs/performance.md
                ${docs}/zip/docs/testing.md
          DESTINATION docs)
else()
  # Debian installs manual pages and change logs compressed.
  set(compressed)
  foreach(source ${docs}/cmdclient.1 ${PROJECT_SOURCE_DIR}/packaging/changelog)
    get_filename_component(name ${source} NAME)
    add_custom_command(
      OUTPUT ${docs}/${name}.gz
      COMMAND ${CMAKE_COMMAND} -DINPUT=${source}
              -DOUTPUT=${docs}/${name}.gz -P ${PROJECT_SOURCE_DIR}/cmake/gzip.cmake
      DEPENDS ${source} ${PROJECT_SOURCE_DIR}/cmake/gzip.cmake
      COMMENT "Compressing ${source}")
    list(APPEND compressed ${docs}/${name}.gz)
  endforeach()
  add_custom_target(docs ALL DEPENDS ${compressed})
  install(FILES ${docs}/cmdclient.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${docs}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(CPACK_PACKAGE_NAME cmdclient)
set(CPACK_PACKAGE_VENDOR "cmdclient developers")
set(CPACK_PACKAGE_CONTACT "cmdclient developers <devel@cmdclient.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "interactive console client for a text command server")
set(CPACK_PACKAGE_DESCRIPTION "Connects to a command server on a TCP port, sends the commands typed\n\
at its prompt and relays each reply to the console or into a file until\n\
the server's end marker arrives. Scripts can drive it through a pipe.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
# The package's directories take their modes from the umask of the build;
# under umask 077 they would be closed to everyone but root.
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/package-directories.cmake)
# Every time in the package is the last commit's, so that two builds of one
# commit give the same bytes.
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/package-date.cmake)
set(CPACK_CMDCLIENT_SOURCE_DIR ${PROJECT_SOURCE_DIR})
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_PACKAGE_FILE_NAME cmdclient-${PROJECT_VERSION}-win64)
  else()
    set(CPACK_PACKAGE_FILE_NAME cmdclient-${PROJECT_VERSION}-win32)
  endif()
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION net)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()
include(CPack)
