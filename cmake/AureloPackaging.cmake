# Debian packages, made by CPack from the install rules below:
#
#   aurelo-translator   the application under /usr, its resources under /usr/share/aurelo-translator,
#                       the desktop file, the icon in the hicolor theme, the AppStream metainfo
#   aurelo-service      the managed service and the release tool, the systemd unit, the default
#                       configuration in /etc/aurelo-service/, and the system user made on install
#
# `scripts/package` builds a release tree and runs CPack on it. The rules belong to the
# components "translator" and "service" and are left out of a plain `cmake --install`, which
# installs the relocatable bundle instead: nothing of a package may land beside the bundle.

include(GNUInstallDirs)

set(AURELO_PACKAGE_MAINTAINER "Aurelo翻译器 packaging <packages@aurelo.com>" CACHE STRING
    "Maintainer of the Debian packages and contact in their copyright file: name <address>")
set(AURELO_REPOSITORY_URL "https://git.aurelo.com/aurelo/aurelo-translator" CACHE STRING
    "Web address of the source repository: the packages' home page and the AppStream links")
# The AppStream screenshots are the ones kept in the repository, on its main branch.
set(AURELO_SCREENSHOTS_URL "${AURELO_REPOSITORY_URL}/raw/main/docs/screenshots")
# Each build is a new revision of the project version: 1.0.0-57 is build 57 of 1.0.0 and sorts
# before 1.0.0-58 and 1.0.1-1. ("+b57" would claim a binary-only rebuild of unchanged source,
# which is what Debian reserves that suffix for.)
set(AURELO_PACKAGE_VERSION "${PROJECT_VERSION}-${AURELO_BUILD_NUMBER}")

set(_packaging ${PROJECT_SOURCE_DIR}/packaging)
set(_generated ${PROJECT_BINARY_DIR}/packaging)

# Files installed by hand get the permissions Debian expects, whatever the umask of the build.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
    GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# Manual pages and changelogs are installed compressed with gzip -9n (no name or time stamp), as
# Debian policy asks; they are made in the build tree so that packaging needs no tool of its own.
find_program(AURELO_GZIP gzip REQUIRED)
set(_compressed "")
function(_aurelo_gzip source output)
  add_custom_command(OUTPUT ${output}
                     COMMAND ${AURELO_GZIP} -9nc ${source} > ${output}
                     DEPENDS ${source} VERBATIM)
  set(_compressed ${_compressed} ${output} PARENT_SCOPE)
endfunction()

configure_file(${_packaging}/changelog.in ${_generated}/changelog @ONLY)
configure_file(${_packaging}/copyright.in ${_generated}/copyright @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/data/com.aurelo.translator.metainfo.xml.in
               ${_generated}/com.aurelo.translator.metainfo.xml @ONLY)
# A version with a Debian revision names its changelog changelog.Debian.
_aurelo_gzip(${_generated}/changelog ${_generated}/changelog.Debian.gz)
foreach(page aurelo-translator.1 aurelo-service.1 aurelo-release.1)
  _aurelo_gzip(${_packaging}/man/${page} ${_generated}/${page}.gz)
endforeach()
add_custom_target(aurelo_package_files ALL DEPENDS ${_compressed})

set(_components "")

# The application.
if(TARGET aurelo-translator)
  list(APPEND _components translator)
  install(TARGETS aurelo-translator RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
          COMPONENT translator EXCLUDE_FROM_ALL)
  # The program finds its resources in share/aurelo-translator beside its bin/ folder, as it
  # does inside the bundle; the desktop looks for the icon in the hicolor theme.
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/data/icons
          DESTINATION ${CMAKE_INSTALL_DATADIR}/aurelo-translator
          COMPONENT translator EXCLUDE_FROM_ALL)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/data/icons/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons
          COMPONENT translator EXCLUDE_FROM_ALL)
  install(FILES ${PROJECT_SOURCE_DIR}/data/com.aurelo.translator.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT translator EXCLUDE_FROM_ALL)
  install(FILES ${_generated}/com.aurelo.translator.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT translator EXCLUDE_FROM_ALL)
  install(FILES ${_generated}/aurelo-translator.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT translator EXCLUDE_FROM_ALL)
  install(FILES ${_generated}/copyright ${_generated}/changelog.Debian.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/aurelo-translator
          COMPONENT translator EXCLUDE_FROM_ALL)
  install(FILES ${_packaging}/debian/aurelo-translator/lintian-overrides
          DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME aurelo-translator
          COMPONENT translator EXCLUDE_FROM_ALL)
endif()

# The service. Debian 12 keeps system units in /lib/systemd/system and configuration in /etc,
# outside the /usr prefix: these two destinations are absolute.
list(APPEND _components service)
install(TARGETS aurelo-service aurelo-release RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        COMPONENT service EXCLUDE_FROM_ALL)
install(FILES ${_packaging}/aurelo-service.service DESTINATION /lib/systemd/system
        COMPONENT service EXCLUDE_FROM_ALL)
install(FILES ${_packaging}/aurelo-service.conf DESTINATION /etc/aurelo-service
        COMPONENT service EXCLUDE_FROM_ALL)
install(FILES ${_generated}/aurelo-service.1.gz ${_generated}/aurelo-release.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT service EXCLUDE_FROM_ALL)
install(FILES ${_generated}/copyright ${_generated}/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/aurelo-service COMPONENT service EXCLUDE_FROM_ALL)
install(FILES ${_packaging}/debian/aurelo-service/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME aurelo-service
        COMPONENT service EXCLUDE_FROM_ALL)

# CPack.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME aurelo)
set(CPACK_PACKAGE_VENDOR "Aurelo")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${AURELO_BUILD_NUMBER})
set(CPACK_PACKAGE_CONTACT "${AURELO_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${AURELO_REPOSITORY_URL}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
# The absolute destinations above must land in the package, never on the building machine.
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL ${_components})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

set(CPACK_DEBIAN_TRANSLATOR_PACKAGE_NAME aurelo-translator)
# CJK text, the Secret Service for the login token and passwords, the offline recognition model
# of live captions, and the certificate authorities for the managed service's https address.
set(CPACK_DEBIAN_TRANSLATOR_PACKAGE_DEPENDS
    "fonts-noto-cjk, pocketsphinx-en-us, ca-certificates, gnome-keyring | keepassxc | libkf5wallet-bin")
set(CPACK_DEBIAN_TRANSLATOR_PACKAGE_RECOMMENDS "pulseaudio | pipewire-pulse")
set(CPACK_COMPONENT_TRANSLATOR_DESCRIPTION
    "Translation workbench for chats with customers on web chat platforms
Aurelo翻译器 hosts every chat account of a customer-service desk in one window,
each in its own tab with its own browser data, proxy and languages. Incoming
messages are translated under the original, and outgoing text is translated
before it is sent, through the organisation's managed translation service.
Live captions translate the speech of voice messages and calls.")

set(CPACK_DEBIAN_SERVICE_PACKAGE_NAME aurelo-service)
# The offline demonstration engine is optional: a service that only uses the providers' APIs
# runs without it.
set(CPACK_DEBIAN_SERVICE_PACKAGE_DEPENDS "adduser, ca-certificates")
set(CPACK_DEBIAN_SERVICE_PACKAGE_RECOMMENDS "apertium, apertium-eng-spa")
set(CPACK_COMPONENT_SERVICE_DESCRIPTION
    "Managed translation service for the Aurelo translation workbench
The service signs in the desk's staff, offers each account its translation
engines (cloud providers or the offline Apertium demonstration engine),
translates texts and voice messages, and serves the application's update
packages. It includes the administration command for accounts, engines and
provider keys, the release tool that signs update packages, and a sandboxed
systemd unit that runs it as its own system user.")
set(CPACK_DEBIAN_SERVICE_PACKAGE_CONTROL_EXTRA
    ${_packaging}/debian/aurelo-service/conffiles ${_packaging}/debian/aurelo-service/postinst
    ${_packaging}/debian/aurelo-service/prerm ${_packaging}/debian/aurelo-service/postrm)

include(CPack)
