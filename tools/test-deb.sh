#!/usr/bin/env bash
# tools/test-deb.sh [FOLDER]: installs the five packages that
# tools/build-deb.sh left in build-deb/ (veltrane, enn, libenn1, libenn-dev,
# python3-enn) with apt into a bare Debian 12 (debootstrap --variant=minbase bookworm, in
# FOLDER, by default build-debroot/) and checks there that the programs run,
# that a C program built with pkg-config and libenn-dev's examples, built
# with pkg-config and as a CMake project with find_package(Enn), decrypt a
# container of the packaged enn, that help(enn) names the guide python3-enn
# ships and the Python module's tests pass against the system's libenn, that
# the window is no text file's default opener (xdg-mime), and that removing
# the five takes away everything they put there. Run as root; needs the
# network to reach Debian's mirror. The chroot is unmounted and deleted on
# every way out.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
packages=(veltrane enn libenn1 libenn-dev python3-enn)
debs=()
for p in "${packages[@]}"; do
  found=("$repo"/build-deb/"${p}"_*.deb)
  [ -f "${found[0]}" ] || { echo "test-deb: no build-deb/${p}_*.deb: run tools/build-deb.sh first" >&2; exit 1; }
  debs+=("${found[0]}")
done
work=$(realpath -m "${1:-$repo/build-debroot}")
root=$work/root
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
security=${DEBIAN_SECURITY_MIRROR:-http://deb.debian.org/debian-security}

step_start=$SECONDS
step() {
  echo "test-deb: $* ($((SECONDS - step_start)) s so far)"
}

# Unmounts whatever is mounted inside the chroot, ours or what an
# interrupted debootstrap left, the deepest first; then deletes it, but only
# with nothing mounted in it, and never across into another file system.
remove_root() {
  local mount
  for mount in $(awk -v r="$root/" 'index($2, r) == 1 { print $2 }' /proc/self/mounts | sort -r); do
    umount "$mount" || umount -l "$mount"
  done
  if [ -d "$root" ] && ! grep -q " $root/" /proc/self/mounts; then
    rm -rf --one-file-system "$root"
  fi
}

cleanup() {
  local status=$?
  remove_root
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

in_root() {
  chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
    LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"
}

# Every path in the chroot with its kind, less the kernel's file systems and
# the package managers' own state, caches and logs.
snapshot() {
  (cd "$root" && find . -xdev \( -path ./proc -o -path ./sys -o -path ./dev -o -path ./run \
    -o -path ./tmp -o -path ./var/cache -o -path ./var/lib/apt -o -path ./var/lib/dpkg \
    -o -path ./var/log \) -prune -o -printf '%y %p\n' | LC_ALL=C sort) >"$1"
}

fail() {
  echo "test-deb: FAIL: $*" >&2
  exit 1
}

remove_root
mkdir -p "$work"
step "debootstrap --variant=minbase bookworm from $mirror"
debootstrap --variant=minbase bookworm "$root" "$mirror" >"$work/debootstrap.log" 2>&1 ||
  { tail -20 "$work/debootstrap.log"; fail "debootstrap"; }
mount -t proc proc "$root/proc"
cp /etc/resolv.conf "$root/etc/resolv.conf"
# The suites of a Debian 12 installation.
cat >"$root/etc/apt/sources.list" <<EOF
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb $security bookworm-security main
EOF
in_root apt-get update -qq

# What the receiver's programs are built with, pytest for the Python
# module's tests, and what a bare desktop chooses a file's opener with; not
# ours, so installed before the snapshot of the bare system.
step "apt-get install the C compiler, make, cmake, pkg-config, pytest, xdg-utils and shared-mime-info"
in_root apt-get install -y -qq --no-install-recommends gcc libc6-dev make cmake pkg-config python3-pytest \
  xdg-utils shared-mime-info >"$work/tools.log" 2>&1 || { tail -20 "$work/tools.log"; fail "installing the tools"; }

snapshot "$work/bare.txt"
names=()
for deb in "${debs[@]}"; do
  cp "$deb" "$root/tmp/"
  names+=("./$(basename "$deb")")
done
step "apt-get install ${names[*]}"
in_root sh -c "cd /tmp && apt-get install -y -qq --no-install-recommends ${names[*]}" >"$work/install.log" 2>&1 ||
  { tail -20 "$work/install.log"; fail "apt-get install ${names[*]}"; }
# Every package lists the root as "/.", which is no file of theirs.
for p in "${packages[@]}"; do
  in_root dpkg -L "$p"
done | grep -vx '/\.' | LC_ALL=C sort -u >"$work/package-files.txt"

step "checking the installed programs"
in_root enn --version | grep -q '^enn [0-9]' || fail "enn --version did not answer"
in_root veltrane --version | grep -q '^veltrane [0-9]' || fail "veltrane --version did not answer"
echo "test-deb: enn --version and veltrane --version answer"
# The window starts and stays up until it is stopped.
status=0
in_root env QT_QPA_PLATFORM=offscreen timeout 5 veltrane || status=$?
[ "$status" -eq 124 ] || fail "veltrane ended by itself with status $status within 5 s"
echo "test-deb: veltrane was still running after 5 s"
# Each program links the shared library from libenn1.
# (ldd writes to a file: grep -q, done at the first match, would leave
# ldd writing into a closed pipe, and the pipeline failing with it.)
for program in enn veltrane; do
  in_root ldd "/usr/bin/$program" >"$work/ldd.txt"
  grep -Eq 'libenn\.so\.1 => /(usr/)?lib/' "$work/ldd.txt" ||
    fail "$program does not link libenn.so.1 from /usr/lib"
done
cp "$repo/dist/linux/check-install.sh" "$root/tmp/"
in_root sh /tmp/check-install.sh "" /usr
# With no other program for them, a text file or a table still does not
# open in the window.
for type in text/plain text/csv; do
  opener=$(in_root xdg-mime query default "$type")
  case $opener in *veltrane*) fail "xdg-mime makes $opener the opener of $type" ;; esac
done
echo "test-deb: the window opens neither text/plain nor text/csv by default"

step "a C program with pkg-config, and libenn-dev's examples with pkg-config and CMake"
examples=/usr/share/doc/libenn-dev/examples
for file in "$repo"/docs/examples/*; do
  cmp -s "$file" "$root$examples/${file##*/}" || fail "libenn-dev does not ship ${file##*/} in $examples"
done
mkdir -p "$root/tmp/src"
cp -r "$repo/tests/library/consumers.sh" "$repo/tests/library/consumer" "$root/tmp/src/"
in_root sh /tmp/src/consumers.sh "" /usr enn "$examples" /tmp/src/work

step "the Python module's tests against the installed enn module and libenn"
# The tests alone: "import enn" must find python3-enn's module.
cp -r "$repo/python/tests" "$root/tmp/python-tests"
in_root sh -c "cd /tmp/python-tests && ENN_HEADER=/usr/include/enn.h python3 -m pytest -q -p no:cacheprovider" ||
  fail "the Python module's tests"
in_root python3 -c 'import enn; print(enn.__file__)' | grep -qx /usr/lib/python3/dist-packages/enn/__init__.py ||
  fail "python3 does not import enn from python3-enn"
# help(enn) names the module's guide, which is there as in the sources.
guide=$(in_root python3 -c 'import enn; print(enn.__doc__)' | grep -o '/usr/share/doc/python3-enn/[^ ]*' || true)
[ -n "$guide" ] && cmp -s "$repo/python/README.md" "$root$guide" ||
  fail "help(enn) names no guide that python3-enn ships: '$guide'"

step "dpkg -r ${packages[*]}"
in_root dpkg -r "${packages[@]}" >/dev/null
snapshot "$work/removed.txt"
# Nothing of ours stays behind...
left=$(LC_ALL=C comm -13 "$work/bare.txt" "$work/removed.txt" | grep -E 'veltrane|/enn\b|libenn|/Enn\b|enn\.(h|pc)' || true)
[ -z "$left" ] || fail "left behind after dpkg -r: $left"
while read -r path; do
  if [ -e "$root$path" ] && [ ! -d "$root$path" ]; then
    fail "$path is still there after dpkg -r"
  fi
done <"$work/package-files.txt"
# ... and installing the packages again and removing them brings the system
# back to the same files, the packages' files being exactly those between.
in_root sh -c "cd /tmp && dpkg -i ${names[*]}" >/dev/null
snapshot "$work/reinstalled.txt"
in_root dpkg -r "${packages[@]}" >/dev/null
snapshot "$work/removed-again.txt"
cmp -s "$work/removed.txt" "$work/removed-again.txt" ||
  fail "a second install and dpkg -r changed the system: $(diff "$work/removed.txt" "$work/removed-again.txt")"
paths() { sed 's/^. \.//' "$@" | LC_ALL=C sort; }
# hicolor's icon cache is no package's: gtk-update-icon-cache's trigger
# makes it while the theme holds icons and deletes it with the last one;
# nor is the bytecode that python3-enn's py3compile makes, and py3clean
# deletes.
added=$(LC_ALL=C comm -13 <(paths "$work/removed.txt") <(paths "$work/reinstalled.txt") |
  grep -vx -e /usr/share/icons/hicolor/icon-theme.cache -e '/usr/lib/python3/dist-packages/enn/__pycache__.*' || true)
expected=$(LC_ALL=C comm -23 "$work/package-files.txt" <(paths "$work/removed.txt"))
[ "$added" = "$expected" ] || fail "the files the packages added are not their lists:
$added
--- their lists:
$expected"
echo "test-deb: dpkg -r removed all $(echo "$added" | wc -l) paths the packages added"

step "done: installed, ran, built against and removed cleanly"
