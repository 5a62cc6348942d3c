#!/bin/sh
# check-install.sh ROOT PREFIX: checks an installation of Veltrane under
# ROOT (empty for the running system) with the given prefix (/usr for the
# package): exactly the files listed below are there, the programs run as
# programs, the desktop entry's Exec is an installed program and its Icon an
# installed hicolor icon at every size, each picture as large as its folder
# says, the file managers' commands run it on a file and the window opens
# no file type by default. The library's files are listed under lib/; they
# may lie one folder deeper, in lib/ARCHITECTURE-TRIPLET/, as in Debian.
# Needs only a POSIX shell and coreutils, so that it also runs inside a bare
# Debian system.
set -eu
root=$1
prefix=$2
dir=$root$prefix
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

expected="bin/enn
bin/veltrane
include/enn.h
include/enn_version.h
lib/cmake/Enn/EnnConfig.cmake
lib/cmake/Enn/EnnConfigVersion.cmake
lib/cmake/Enn/EnnTargets-BUILDTYPE.cmake
lib/cmake/Enn/EnnTargets.cmake
lib/libenn.so
lib/libenn.so.1
lib/libenn.so.1.MINOR.0
lib/pkgconfig/enn.pc
share/applications/veltrane.desktop
share/bash-completion/completions/enn
share/icons/hicolor/128x128/apps/veltrane.png
share/icons/hicolor/16x16/apps/veltrane.png
share/icons/hicolor/256x256/apps/veltrane.png
share/icons/hicolor/32x32/apps/veltrane.png
share/icons/hicolor/48x48/apps/veltrane.png
share/icons/hicolor/64x64/apps/veltrane.png
share/kio/servicemenus/veltrane.desktop
share/locale/zh_CN/LC_MESSAGES/enn.mo
share/man/man1/enn.1
share/man/man1/veltrane.1
share/metainfo/com.karsholm.veltrane.metainfo.xml
share/nemo/actions/veltrane.nemo_action
share/veltrane/thunar-uca.xml"

if [ -z "$root" ]; then
  # The running system holds other packages' files too: just ours. The
  # file of the build type's imported target is named after the build type.
  for f in $expected; do
    case $f in
      lib/cmake/Enn/EnnTargets-*) ;;
      lib/*)
        there=
        # The versioned file carries the interface's minor version.
        g=$(printf '%s' "$f" | sed 's|\.MINOR\.|.*.|')
        for candidate in "$dir"/$g "$dir"/lib/*/${g#lib/}; do
          [ -e "$candidate" ] && there=$candidate
        done
        [ -n "$there" ] || fail "$dir/$f is missing"
        ;;
      # The packages gzip the manual pages.
      share/man/*) [ -f "$dir/$f" ] || [ -f "$dir/$f.gz" ] || fail "$dir/$f is missing" ;;
      *) [ -f "$dir/$f" ] || fail "$dir/$f is missing" ;;
    esac
  done
else
  found=$(cd "$dir" && find . -type f -o -type l | sed 's|^\./||; s|^lib/[^/]*-linux-[^/]*/|lib/|' |
    sed -e 's|^lib/cmake/Enn/EnnTargets-[a-z]*\.cmake$|lib/cmake/Enn/EnnTargets-BUILDTYPE.cmake|' \
        -e 's|^lib/libenn\.so\.1\.[0-9]*\.0$|lib/libenn.so.1.MINOR.0|' | LC_ALL=C sort)
  if [ "$found" != "$expected" ]; then
    printf 'expected:\n%s\nfound:\n%s\n' "$expected" "$found"
    fail "the installed files under $dir differ from the list"
  fi
fi

for program in enn veltrane; do
  [ -x "$dir/bin/$program" ] || fail "$dir/bin/$program is not executable"
done

entry=$dir/share/applications/veltrane.desktop
value() { sed -n "s/^$1=//p" "$entry"; }
exec_program=$(value Exec | cut -d' ' -f1)
case $exec_program in
  /*) [ -x "$root$exec_program" ] || fail "Exec=$exec_program is not installed" ;;
  *) [ -x "$dir/bin/$exec_program" ] || fail "Exec=$exec_program is not in $prefix/bin" ;;
esac
# The window is a command on a file, never a file type's opener.
! grep -q '^MimeType=' "$entry" || fail "the desktop entry names file types it opens"
# Each file manager's command runs the installed program on the file.
for action in nemo/actions/veltrane.nemo_action kio/servicemenus/veltrane.desktop; do
  grep -qx 'Exec=veltrane %[fF]' "$dir/share/$action" || fail "$action does not run veltrane on the file"
done
# The manual names each file manager's command file where it is installed.
page=$dir/share/man/man1/veltrane.1
[ -f "$page" ] || page=$page.gz
for action in nemo/actions/veltrane.nemo_action kio/servicemenus/veltrane.desktop veltrane/thunar-uca.xml; do
  gzip -cdf "$page" | sed 's/\\//g' | grep -qF "$prefix/share/$action" || fail "man veltrane does not name $prefix/share/$action"
done
icon=$(value Icon)
[ -n "$icon" ] || fail "the desktop entry names no icon"
for size in 16 32 48 64 128 256; do
  png=$dir/share/icons/hicolor/${size}x${size}/apps/$icon.png
  [ -f "$png" ] || fail "Icon=$icon: no $png"
  # A PNG's width and height are the 32-bit big-endian numbers at byte 16.
  dims=$(od -An -tu1 -j16 -N8 "$png" | awk '{print $3*256+$4 "x" $7*256+$8}')
  [ "$dims" = "${size}x${size}" ] || fail "$png is $dims"
done

grep -q '<launchable type="desktop-id">veltrane.desktop</launchable>' \
  "$dir/share/metainfo/com.karsholm.veltrane.metainfo.xml" ||
  fail "the AppStream metadata does not launch veltrane.desktop"
echo "installation under $dir is complete"
