#!/usr/bin/env bash
# Installs what building, running and testing Veltrane needs on Debian 12.
# Run as root; does nothing when everything is already there.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libgtest-dev libgmock-dev libssl-dev
  clang libclang-rt-14-dev
  qt6-base-dev qt6-translations-l10n fonts-arphic-uming
  # enn's catalogues, and the Chinese locale its tests run under
  gettext locales
  # The .deb (CPack reads the binaries' dependencies with file and
  # dpkg-shlibdeps), the checks of the desktop files and manual pages, and
  # the package's test in a bare Debian system (tools/test-deb.sh)
  file dpkg-dev desktop-file-utils appstream man-db debootstrap
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# enn is tested under a Chinese locale as well as an English one.
if ! locale -a 2>/dev/null | grep -qix 'zh_CN\.utf-\?8'; then
  localedef -i zh_CN -f UTF-8 zh_CN.UTF-8
fi
