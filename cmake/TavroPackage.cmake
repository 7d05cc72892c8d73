# The Debian package, made by `cpack -G DEB` in a release build configured with
# CMAKE_INSTALL_PREFIX=/usr (scripts/package.sh does both).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tavro)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "tavro developers <tavro@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "a Psion handheld's drives as Linux volumes")
set(CPACK_PACKAGE_DESCRIPTION
    "vantrel runs the serial link to a Psion Series 3 or Series 5 handheld and mounts each of
its drives as a Linux volume (FUSE) while the link is up. Other programs reach any server on
the handheld through its gateway. A systemd unit, off by default, starts it when a USB-serial
adapter is plugged in.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Libraries the programs link come from dpkg-shlibdeps (libc, libstdc++, libfuse3, libsystemd);
# the private ones in lib/tavro are found through the package itself. fusermount3, which mounts
# for a user other than root, is a program and has to be named.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
    ${CMAKE_BINARY_DIR}/_CPack_Packages/Linux/DEB/${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-Linux${CMAKE_INSTALL_PREFIX}/${TAVRO_INSTALL_LIBDIR})
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fuse3")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "bash-completion, dbus-user-session")
# Tell udev and systemd about the new rule and units; starting anything is the user's choice.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${TAVRO_PACKAGING_DIR}/debian/postinst ${TAVRO_PACKAGING_DIR}/debian/prerm
    ${TAVRO_PACKAGING_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
