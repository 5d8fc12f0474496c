# Install rules and CPack configuration.
#   Linux:   a Debian package "addrova" (cpack -G DEB).
#   Windows: a portable zip with Addrova.exe, README.txt and LICENSE.txt at its root
#            (cpack -G ZIP).
# Everything the packages hold is installed as the component "Runtime", and CPack installs
# that component only, so nothing else (tests, benchmarks) can end up in a package.

set(ADDROVA_PACKAGE_COMPONENT Runtime)

set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VENDOR "Addrova Developers")
set(CPACK_PACKAGE_CONTACT "Addrova Developers <dev@addrova.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "show the public IPv4 address and copy it to the clipboard")
set(CPACK_PACKAGE_HOMEPAGE_URL ${ADDROVA_HOME_URL})
set(CPACK_INSTALL_CMAKE_PROJECTS
    "${CMAKE_BINARY_DIR};${PROJECT_NAME};${ADDROVA_PACKAGE_COMPONENT};/")
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/" "/out/" "/\\\\.cache/")

# Directories that install() creates: 0755 whatever the umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

if(WIN32)
  # Portable: the program keeps Addrova.ini beside itself.
  install(TARGETS Addrova RUNTIME DESTINATION . COMPONENT ${ADDROVA_PACKAGE_COMPONENT})

  # The README and the licence beside it as Windows text files: CR LF line ends, and the
  # README (UTF-8, with Japanese in it) starts with a byte-order mark so that every Notepad
  # reads it as UTF-8.
  set(_addrova_pkg ${CMAKE_BINARY_DIR}/package-files)
  file(MAKE_DIRECTORY ${_addrova_pkg})
  string(ASCII 239 187 191 _addrova_utf8_bom)
  foreach(_addrova_doc "README.md;README.txt;BOM" "LICENSE;LICENSE.txt;")
    list(GET _addrova_doc 0 _addrova_from)
    list(GET _addrova_doc 1 _addrova_to)
    list(GET _addrova_doc 2 _addrova_bom)
    file(READ ${PROJECT_SOURCE_DIR}/${_addrova_from} _addrova_text)
    string(REPLACE "\r\n" "\n" _addrova_text "${_addrova_text}")
    string(REPLACE "\n" "\r\n" _addrova_text "${_addrova_text}")
    if(_addrova_bom)
      set(_addrova_text "${_addrova_utf8_bom}${_addrova_text}")
    endif()
    file(WRITE ${_addrova_pkg}/${_addrova_to} "${_addrova_text}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
                 ${PROJECT_SOURCE_DIR}/${_addrova_from})
    install(FILES ${_addrova_pkg}/${_addrova_to} DESTINATION .
            COMPONENT ${ADDROVA_PACKAGE_COMPONENT})
  endforeach()

  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(_addrova_windows win64)
  else()
    set(_addrova_windows win32)
  endif()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME "${PROJECT_NAME}-${PROJECT_VERSION}-${_addrova_windows}")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  # The program names its windows after its own file name, found through /proc/self/exe,
  # which resolves links. So the real file is /usr/lib/addrova/Addrova (title "Addrova"; an
  # administrator's /usr/lib/addrova/Addrova.ini gives everybody's defaults, a user's own
  # settings go to ~/.config/addrova/) and the command in PATH, /usr/bin/addrova, is a
  # relative link to it.
  set(_addrova_pkg ${CMAKE_BINARY_DIR}/package-files)
  set(_addrova_res ${PROJECT_SOURCE_DIR}/resources)
  set(_addrova_docdir share/doc/addrova)
  set(_addrova_deb_release 1)
  set(_addrova_deb_version ${PROJECT_VERSION}-${_addrova_deb_release})
  file(MAKE_DIRECTORY ${_addrova_pkg})

  install(TARGETS Addrova RUNTIME DESTINATION lib/addrova
          COMPONENT ${ADDROVA_PACKAGE_COMPONENT})
  # Stripped as Debian strips programs: also without the .comment and .note sections.
  if(CMAKE_STRIP)
    install(CODE "
      if(CMAKE_INSTALL_DO_STRIP)
        execute_process(
          COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
                  \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/addrova/Addrova\"
          COMMAND_ERROR_IS_FATAL ANY)
      endif()" COMPONENT ${ADDROVA_PACKAGE_COMPONENT})
  endif()

  file(CREATE_LINK ../lib/addrova/Addrova ${_addrova_pkg}/addrova SYMBOLIC)
  install(FILES ${_addrova_pkg}/addrova DESTINATION bin
          COMPONENT ${ADDROVA_PACKAGE_COMPONENT})

  install(FILES ${_addrova_res}/addrova.desktop DESTINATION share/applications
          COMPONENT ${ADDROVA_PACKAGE_COMPONENT})
  install(FILES ${_addrova_res}/addrova-48.png DESTINATION share/icons/hicolor/48x48/apps
          RENAME addrova.png COMPONENT ${ADDROVA_PACKAGE_COMPONENT})
  install(FILES ${_addrova_res}/addrova-256.png DESTINATION share/icons/hicolor/256x256/apps
          RENAME addrova.png COMPONENT ${ADDROVA_PACKAGE_COMPONENT})
  install(FILES ${_addrova_res}/addrova.svg DESTINATION share/icons/hicolor/scalable/apps
          COMPONENT ${ADDROVA_PACKAGE_COMPONENT})

  configure_file(${_addrova_res}/deb/copyright.in ${_addrova_pkg}/copyright @ONLY)
  install(FILES ${_addrova_pkg}/copyright DESTINATION ${_addrova_docdir}
          COMPONENT ${ADDROVA_PACKAGE_COMPONENT})

  # The package's version must be the one of the changelog's latest entry.
  file(STRINGS ${_addrova_res}/deb/changelog _addrova_changelog_top LIMIT_COUNT 1)
  if(NOT _addrova_changelog_top MATCHES "^addrova \\(${_addrova_deb_version}\\) ")
    message(WARNING "resources/deb/changelog: the latest entry is not for version "
                    "${_addrova_deb_version}; add one before making the Debian package.")
  endif()

  # Compressed as Debian wants: gzip -9 with no name or time stamp in the header, so these
  # files come out byte for byte the same from the same sources.
  find_program(ADDROVA_GZIP gzip REQUIRED)
  set(_addrova_gz ${_addrova_pkg}/addrova.1.gz ${_addrova_pkg}/changelog.Debian.gz)
  add_custom_command(
    OUTPUT ${_addrova_gz}
    COMMAND ${CMAKE_COMMAND} -E copy ${_addrova_res}/addrova.1 ${_addrova_pkg}/addrova.1
    COMMAND ${CMAKE_COMMAND} -E copy ${_addrova_res}/deb/changelog
            ${_addrova_pkg}/changelog.Debian
    COMMAND ${ADDROVA_GZIP} -9nf ${_addrova_pkg}/addrova.1 ${_addrova_pkg}/changelog.Debian
    DEPENDS ${_addrova_res}/addrova.1 ${_addrova_res}/deb/changelog
    COMMENT "Compressing the manual page and the Debian changelog"
    VERBATIM)
  add_custom_target(addrova_package_files ALL DEPENDS ${_addrova_gz})
  install(FILES ${_addrova_pkg}/addrova.1.gz DESTINATION share/man/man1
          COMPONENT ${ADDROVA_PACKAGE_COMPONENT})
  install(FILES ${_addrova_pkg}/changelog.Debian.gz DESTINATION ${_addrova_docdir}
          COMPONENT ${ADDROVA_PACKAGE_COMPONENT})
  install(FILES ${_addrova_res}/deb/lintian-overrides DESTINATION share/lintian/overrides
          RENAME addrova COMPONENT ${ADDROVA_PACKAGE_COMPONENT})

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_PACKAGE_NAME addrova)
  set(CPACK_DEBIAN_PACKAGE_RELEASE ${_addrova_deb_release})
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Addrova Developers <dev@addrova.example>")
  set(CPACK_DEBIAN_PACKAGE_SECTION net)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${ADDROVA_HOME_URL})
  # Depends: computed by dpkg-shlibdeps (from dpkg-dev) from the libraries the binary uses,
  # after a Japanese font (every label is Japanese, and without one GTK draws boxes) and
  # GIO's modules for TLS and the desktop's proxy settings, which are loaded, not linked.
  # The runner of automatic proxy configuration scripts is suggested: GNOME brings it.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-noto-cjk | fonts-japanese-gothic, glib-networking")
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "libproxy1-plugin-webkit")
  # The extended description; CPack puts CPACK_PACKAGE_DESCRIPTION_SUMMARY before it as the
  # synopsis.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "Addrova is a small desktop utility that shows the IPv4 address under which
this computer is seen on the internet and puts it on the clipboard. It asks
an address-echo web page for the address, at start and whenever its button
is pressed, and can refresh the address every few seconds, write each result
to a file, and start when the user logs in.
The user interface is in Japanese.")
endif()

include(CPack)
