# `cpack -G DEB` (or `cmake --build ... --target package`): the brevick .deb,
# built from what cmake/install.cmake installs. Its version is the project's;
# its dependencies come from the shared libraries the executable links
# (dpkg-shlibdeps), plus libcurl, which it loads only when a network option
# needs it and which shlibdeps therefore cannot see.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME brevick)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Brevick developers")
set(CPACK_PACKAGE_CONTACT "The Brevick developers <brevick@example.org>")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)

set(CPACK_DEBIAN_PACKAGE_NAME brevick)
set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
# The Debian revision: count up when only the packaging changes.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Brevick developers <brevick@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libcurl.so.4 by dlopen; 7.85 is the first with the protocol lists by name.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcurl4 (>= 7.85.0)")
# Keys on tokens: SoftHSM to try it, OpenSC's module for smart cards and USB
# tokens, p11-kit's server and client to sign from a machine without the token.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "softhsm2, opensc, p11-kit")
# Control files, and the directories CPack makes on its own (usr/, usr/share/,
# ...), get their modes whatever the builder's umask is.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS})
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/debian/fix_directory_modes.cmake)
# The synopsis, then the extended description; CPack indents it and turns the
# empty line into the " ." that separates paragraphs.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "sign package manifests as PKCS #7 signed-data messages
Brevick turns a developer's XML package manifest into a signed release
manifest: it checks the package rules, removes the developer-only
information, stores the MD5 digest (and optionally a SHA-2 digest) of every
module file, and signs the result with an RSA certificate from the user's
certificate stores, or with a key held on a PKCS #11 token.

It also lists the certificate stores and their certificates, and verifies
signed manifests: the signature, the signer against trust anchors, and the
module files of an unpacked package.")

# Debian wants the changelog of the package in its documentation directory,
# but it belongs to the package only: it is a component of its own that a plain
# `cmake --install` leaves out (EXCLUDE_FROM_ALL) and that CPack installs on top
# of the full installation.
set(brevick_saved_epoch "$ENV{SOURCE_DATE_EPOCH}")
set(ENV{SOURCE_DATE_EPOCH} ${BREVICK_RELEASE_EPOCH})
string(TIMESTAMP BREVICK_RELEASE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(ENV{SOURCE_DATE_EPOCH} "${brevick_saved_epoch}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/changelog.Debian.in
               ${PROJECT_BINARY_DIR}/debian/changelog.Debian @ONLY)
add_custom_command(
  OUTPUT ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz
  COMMAND sh -c "gzip -9n -c '${PROJECT_BINARY_DIR}/debian/changelog.Debian' > '${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz'"
  DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog.Debian
  VERBATIM)
add_custom_target(brevick_debian_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz)
install(FILES ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz DESTINATION ${BREVICK_DOC_DIR}
        PERMISSIONS ${brevick_file_mode} COMPONENT debian EXCLUDE_FROM_ALL)
set(CPACK_INSTALL_CMAKE_PROJECTS
    "${PROJECT_BINARY_DIR};${PROJECT_NAME};ALL;/;${PROJECT_BINARY_DIR};${PROJECT_NAME};debian;/")

include(CPack)
