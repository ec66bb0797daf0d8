# The Debian package: `cpack -G DEB` in the build folder (or `cmake --build build --target
# package`) makes quorvane_<version>_<arch>.deb from the install layout, which installs on Debian
# 12 with `apt install ./quorvane_*.deb`. Library dependencies are found by dpkg-shlibdeps; the
# rest are what the program needs at run time beyond its libraries.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Vemir")
set(CPACK_PACKAGE_CONTACT "Quorvane developers <quorvane@vemir.local>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Talk to a crew of persona bots in one Dot conversation")
set(CPACK_PACKAGE_DESCRIPTION "Quorvane lets you talk to a crew of persona bots, each with a name, a personality, \
an optional role and an avatar, that all live in one conversation of the Dot web chat service. Local data is one \
encrypted file whose key lives in the desktop keyring.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY quorvane)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# TLS for the network stack, the Secret Service for the vault key, the icon theme it installs into.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "glib-networking, hicolor-icon-theme")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gnome-keyring | kwalletmanager, xdg-desktop-portal-gtk | xdg-desktop-portal-gnome")
include(CPack)
