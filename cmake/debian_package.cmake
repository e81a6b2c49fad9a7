# `cpack -G DEB` in a build directory makes kolvane_<version>_amd64.deb from the install rules;
# scripts/package.sh is the way to call it.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kolvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "on-screen remote control for a quad-view video device on RS-232")
set(CPACK_PACKAGE_DESCRIPTION "\
Kolvane Remote puts the infrared remote control of a quad-view video device
on the screen. A click on a key of the pictured remote sends its command over
an RS-232 serial line; what the device answers is logged beside the picture.
It can search the ports COM1 to COM20 for the device.
.
The package also holds kolvane-send, which sends the remote's keys from a
shell script; kolvane-serve, which holds the port without a window and
serves it to such scripts, with a systemd user unit for each port; and
kolvane-sim, a virtual device on a pseudo-terminal for trying the programs
without the hardware.")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KOLVANE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${KOLVANE_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What dpkg-shlibdeps cannot see: the faces the layout's fonts are substituted with.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-arphic-uming | fonts-noto-cjk, fonts-liberation")
# Without it, Qt runs through XWayland on a Wayland desktop.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
