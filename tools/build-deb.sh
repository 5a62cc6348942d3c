#!/usr/bin/env bash
# tools/build-deb.sh [--twice]: builds the Debian packages (veltrane, enn,
# libenn1, libenn-dev, python3-enn) with `dpkg-buildpackage -us -uc -b` from
# a copy of the tree in build-deb/one/ and checks them with lintian, failing
# on any error or warning. The packages and their .changes end up in build-deb/.
# With --twice it builds them again in build-deb/two/ and fails unless both
# builds give byte-identical packages.
# Installs what is missing; run as root.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
out=$repo/build-deb
cd "$repo"

bash tools/install-missing.sh dpkg-dev fakeroot lintian
# What debian/control builds with, from there, when any of it is missing.
if ! dpkg-checkbuilddeps 2>/dev/null; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get build-dep -y -qq --no-install-recommends ./
fi

# The files of the tree as git sees them, checked in or not, less what git
# ignores: no build folders.
build_copy() {
  local dir=$out/$1
  rm -rf "$dir"
  mkdir -p "$dir/veltrane"
  # A file deleted but still tracked is passed over.
  git ls-files -z --cached --others --exclude-standard |
    tar --null --ignore-failed-read -cf - -T - 2>/dev/null | tar -xf - -C "$dir/veltrane"
  echo "build-deb: building in $dir"
  (cd "$dir/veltrane" && dpkg-buildpackage -us -uc -b -j"$(nproc)") >"$dir/build.log" 2>&1 ||
    { tail -40 "$dir/build.log"; echo "build-deb: FAIL: dpkg-buildpackage" >&2; exit 1; }
}

build_copy one
changes=$(ls "$out"/one/*.changes)
echo "build-deb: lintian $(basename "$changes")"
if [ "$(id -u)" -eq 0 ]; then
  # lintian unpacks what it checks and asks not to be run as root: as root,
  # it checks a copy of the packages as nobody, in a folder of that copy's
  # own, where the tree's folders may be closed to others.
  check=$(mktemp -d)
  trap 'rm -rf "$check"' EXIT
  cp "$out"/one/*.changes "$out"/one/*.deb "$out"/one/*.buildinfo "$check"/
  chown -R nobody:nogroup "$check"
  runuser -u nobody -- env HOME="$check" TMPDIR="$check" \
    lintian --fail-on error,warning --info "$check/$(basename "$changes")"
else
  lintian --fail-on error,warning --info "$changes"
fi

if [ "${1:-}" = --twice ]; then
  build_copy two
  for deb in "$out"/one/*.deb; do
    other=$out/two/$(basename "$deb")
    cmp "$deb" "$other" || { echo "build-deb: FAIL: $(basename "$deb") differs between two builds" >&2; exit 1; }
  done
  echo "build-deb: two builds gave byte-identical packages: $(cd "$out/one" && ls *.deb | tr '\n' ' ')"
fi
# Only this build's packages stay, so that an earlier version's are never taken.
rm -f "$out"/*.deb "$out"/*.changes "$out"/*.buildinfo
cp "$out"/one/*.deb "$out"/one/*.changes "$out"/one/*.buildinfo "$out"/
