#!/usr/bin/env bash
# Installs what building, running and testing Veltrane needs on Debian 12.
# Run as root; does nothing when everything is already there.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libgtest-dev libgmock-dev libssl-dev
  clang libclang-rt-14-dev
  qt6-base-dev libxcb1-dev qt6-translations-l10n fonts-arphic-uming
  # The file chooser's tests on an X server of their own, with Qt's theme and
  # GTK's, with and without a session bus, with dbus-launch installed, as on
  # a desktop, which starts a bus for a program that finds none
  xvfb qt6-gtk-platformtheme dbus-x11
  # enn's catalogues
  gettext
  # ACLs and extended attributes, which the file layer's tests set
  acl attr
  # The Debian packages (tools/build-deb.sh), the checks of the desktop files
  # and manual pages, and the packages' test in a bare Debian system
  # (tools/test-deb.sh)
  dpkg-dev debhelper fakeroot lintian desktop-file-utils appstream man-db debootstrap
  # The Python module and its package, and the Java intake example over JNA
  python3-pytest dh-python libjna-java default-jdk-headless
)

bash "$(dirname "$0")/install-missing.sh" "${packages[@]}"
# enn is tested under a Chinese locale as well as an English one.
bash "$(dirname "$0")/chinese-locale.sh"
