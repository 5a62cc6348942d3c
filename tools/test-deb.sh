#!/usr/bin/env bash
# tools/test-deb.sh PACKAGE.deb [FOLDER]: installs the package with apt into a
# bare Debian 12 (debootstrap --variant=minbase bookworm, in FOLDER, by
# default build-debroot/), checks that it runs there, then that dpkg -r takes
# away everything it put there. Run as root; needs the network to reach
# Debian's mirror. The chroot is unmounted and deleted on every way out.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
deb=$(realpath "$1")
work=$(realpath -m "${2:-$repo/build-debroot}")
root=$work/root
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
security=${DEBIAN_SECURITY_MIRROR:-http://deb.debian.org/debian-security}

# The package's own tools answer here, in English and in Chinese.
version_check=(enn --version)

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

snapshot "$work/bare.txt"
cp "$deb" "$root/tmp/"
name=$(basename "$deb")
step "apt-get install ./$name"
in_root sh -c "cd /tmp && apt-get install -y -qq --no-install-recommends ./$name" >"$work/install.log" 2>&1 ||
  { tail -20 "$work/install.log"; fail "apt-get install ./$name"; }
in_root dpkg -L veltrane | LC_ALL=C sort >"$work/package-files.txt"

step "checking the installed programs"
in_root "${version_check[@]}" >/dev/null || fail "${version_check[*]} did not run"
echo "test-deb: ${version_check[*]} runs"
in_root veltrane --version | grep -q '^veltrane [0-9]' || fail "veltrane --version did not answer"
# The window starts and stays up until it is stopped.
status=0
in_root env QT_QPA_PLATFORM=offscreen timeout 5 veltrane || status=$?
[ "$status" -eq 124 ] || fail "veltrane ended by itself with status $status within 5 s"
echo "test-deb: veltrane was still running after 5 s"
cp "$repo/dist/linux/check-install.sh" "$root/tmp/"
in_root sh /tmp/check-install.sh "" /usr

step "dpkg -r veltrane"
in_root dpkg -r veltrane >/dev/null
snapshot "$work/removed.txt"
# Nothing of ours stays behind...
left=$(LC_ALL=C comm -13 "$work/bare.txt" "$work/removed.txt" | grep -E 'veltrane|/enn\b' || true)
[ -z "$left" ] || fail "left behind after dpkg -r: $left"
while read -r path; do
  if [ -e "$root$path" ] && [ ! -d "$root$path" ]; then
    fail "$path is still there after dpkg -r"
  fi
done <"$work/package-files.txt"
# ... and installing the package again and removing it brings the system
# back to the same files, the package's files being exactly those between.
in_root dpkg -i "/tmp/$name" >/dev/null
snapshot "$work/reinstalled.txt"
in_root dpkg -r veltrane >/dev/null
snapshot "$work/removed-again.txt"
cmp -s "$work/removed.txt" "$work/removed-again.txt" ||
  fail "a second install and dpkg -r changed the system: $(diff "$work/removed.txt" "$work/removed-again.txt")"
paths() { sed 's/^. \.//' "$@" | LC_ALL=C sort; }
# hicolor's icon cache is no package's: gtk-update-icon-cache's trigger
# makes it while the theme holds icons and deletes it with the last one.
added=$(LC_ALL=C comm -13 <(paths "$work/removed.txt") <(paths "$work/reinstalled.txt") |
  grep -vx /usr/share/icons/hicolor/icon-theme.cache || true)
expected=$(LC_ALL=C comm -23 "$work/package-files.txt" <(paths "$work/removed.txt"))
[ "$added" = "$expected" ] || fail "the files the package added are not its list:
$added
--- its list:
$expected"
echo "test-deb: dpkg -r removed all $(echo "$added" | wc -l) paths the package added"

rm -f "$root/tmp/$name"
step "done: installed, ran and removed cleanly"
