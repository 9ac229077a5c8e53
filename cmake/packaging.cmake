# The Debian package (cpack -G DEB from a Release build; scripts/package.sh does it all).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tessera)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tessera developers")
set(CPACK_PACKAGE_CONTACT "Tessera developers <tessera@users.noreply.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "AWS IAM Identity Center accounts in the system tray")
# Debian wants the long description in lines of at most 80 characters.
set(CPACK_PACKAGE_DESCRIPTION
    "Tessera gives one-click access to every AWS account and role that an
organization grants through AWS IAM Identity Center: device-code sign-in
with silent token refresh, every account and role from the access portal,
the AWS console opened for any account, role, service and region, a
global-hotkey switcher (Quick Search), pins and groups, and a managed block
of AWS CLI profiles with preview, backups and restore.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${TESSERA_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The linked libraries are found by dpkg-shlibdeps; what is loaded at run time without
# being linked is named here: Qt's X11/Wayland platform plugins and its SVG icon engine.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6svg6")
# Sign-in data goes to a Secret Service provider (GNOME Keyring, KWallet's kwalletd5,
# KeePassXC); without one Tessera falls back to
# private files, so it is recommended rather than required.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gnome-keyring | libkf5wallet-bin | keepassxc")
include(CPack)
