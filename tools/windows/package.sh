#!/usr/bin/env bash
# package.sh: makes the two Windows deliveries from a finished build in
# BUILD_DIR (build-windows), into OUT_DIR (the build folder):
#   veltrane-VERSION-win64.msi  the customer's installer (tools/windows/veltrane.wxs):
#                               veltrane.exe, the licence, the guide in Chinese
#   veltrane-VERSION-win64-deployment.txt
#                               the guide for IT (tools/windows/deployment.md)
#   enn-VERSION-win64.zip       the bank's kit: enn.exe, libenn as a DLL with its
#                               import library and .def, enn.h, the licence and
#                               a README for integrators
# The programs, the DLL and the installer are signed when a certificate is
# given (tools/windows/sign.sh). Run by tools/windows/build.sh; PACKAGE_VERSION
# overrides the version the deliveries carry.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
build=${BUILD_DIR:-build-windows}
out=${OUT_DIR:-$build}
mkdir -p "$out"
out=$(cd "$out" && pwd)
# shellcheck disable=SC1091
. "$build/windows/delivery.env"
# The installer's test builds a later version of the same installer.
version=${PACKAGE_VERSION:-$version}
export VELTRANE_SIGN_NAME=Veltrane VELTRANE_SIGN_URL=$homepage

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Text for Windows: CRLF line ends.
crlf() { sed 's/\r*$/\r/' "$1"; }

# The programs as delivered: stripped, then signed.
mkdir "$work/bin"
cp "$veltrane_exe" "$enn_exe" "$enn_dll" "$work/bin/"
x86_64-w64-mingw32-strip "$work"/bin/*
bash tools/windows/sign.sh "$work"/bin/*

# The installer. wixl takes the sources relative to the folder it runs in,
# and writes the tables' texts in the code page of WINDOWS_LANGUAGE; msibuild
# then records that code page (936, Simplified Chinese) in the database, so
# that Windows reads the Chinese names and texts the same on every system.
msi=$work/msi
mkdir "$msi"
cp "$work/bin/veltrane.exe" "$msi/"
crlf LICENSE >"$msi/LICENSE.txt"
{ printf '\357\273\277'; sed "s/@VERB@/$verb/" tools/windows/guide-zh.txt | crlf /dev/stdin; } >"$msi/guide.txt"
# Both are made in the work folder and put in place only once whole and
# signed, so that a failed build leaves no unsigned delivery behind.
package=$work/veltrane-$version-win64.msi
# What the installed files take, in KiB as the uninstall entry gives it.
installed_size=$(( ($(cat "$msi/veltrane.exe" "$msi/LICENSE.txt" "$msi/guide.txt" | wc -c) + 1023) / 1024 ))
# The texts that may hold more than ASCII go into the source itself, as XML
# (and escaped as sed's replacement text).
xml_text() {
  printf '%s' "$1" | sed -e 's/&/\&amp;/g; s/</\&lt;/g; s/>/\&gt;/g; s/"/\&quot;/g' -e 's/[\\&|]/\\&/g'
}
sed -e "s|@CONTACT@|$(xml_text "$support_contact")|g" -e "s|@VERB@|$(xml_text "$verb")|g" \
  tools/windows/veltrane.wxs >"$msi/veltrane.wxs"
(cd "$msi" && WINDOWS_LANGUAGE=zh_CN wixl -a x64 -D Version="$version" -D Publisher="$publisher" \
  -D Homepage="$homepage" -D SupportUrl="$support_url" -D Telephone="$support_telephone" \
  -D InstalledSize="$installed_size" -D Stage=. -o "$package" veltrane.wxs)
printf '\r\n\r\n936\t_ForceCodepage\r\n' >"$work/_ForceCodepage.idt"
WINDOWS_LANGUAGE=zh_CN msibuild "$package" -i "$work/_ForceCodepage.idt"
# The dialogs (tools/windows/ui/*.idt, in UTF-8 as msibuild reads them), the
# licence shown in the welcome as RTF on one line, the verb named on the last
# page, and where they come in
# the interface's sequence: the welcome unless installed, the progress, and
# the ends (-1 finished, -2 cancelled, -3 failed).
licence_rtf=$(sed -e 's/[\\{}]/\\&/g' LICENSE |
  awk 'NF { printf "%s%s", sep, $0; sep = " "; next } { printf "\\par\\par "; sep = "" }')
licence_rtf="{\\rtf1\\ansi\\ansicpg936\\deff0{\\fonttbl{\\f0\\fnil SimSun;}}\\f0\\fs16 $licence_rtf}"
mkdir "$work/ui"
cp tools/windows/ui/*.idt "$work/ui/"
sed -i -e "s|@LICENCE_RTF@|$(printf '%s' "$licence_rtf" | sed 's/[\\&|]/\\&/g')|" \
  -e "s|@VERB@|$(printf '%s' "$verb" | sed 's/[\\&|]/\\&/g')|" "$work/ui/Control.idt"
for table in "$work"/ui/*.idt; do
  WINDOWS_LANGUAGE=zh_CN msibuild "$package" -i "$table"
done
for row in "'WelcomeDlg', 'NOT Installed', 1250" "'ProgressDlg', '', 1280" \
  "'ExitDlg', '', -1" "'UserExit', '', -2" "'FatalError', '', -3"; do
  msibuild "$package" -q "INSERT INTO InstallUISequence (Action, Condition, Sequence) VALUES ($row)"
done
# INSTALLDIR, as chosen in the dialogs, reaches an installation that runs
# with administrator rights.
secure=$(msiinfo export "$package" Property | tr -d '\r' | awk -F '\t' '$1 == "SecureCustomProperties" { print $2 }')
msibuild "$package" -q "UPDATE Property SET Value = 'INSTALLDIR;$secure' WHERE Property = 'SecureCustomProperties'"

# What wixl does not write: the conditions of the components that go into
# the user's registry or the machine's (veltrane.wxs); the upgrade's removal
# of the earlier version before anything is installed (wixl puts it after
# the new version is registered, where removing the earlier one takes the
# upgrade code's registration with it under Wine); and the summary's
# language, which it gives as 1033 whatever the product's; the package code
# stays the one wixl made. The registry is written once the product is
# registered, so that the uninstall entry's size is ours: Wine's registration
# writes it as 0.
msibuild "$package" -q "UPDATE InstallExecuteSequence SET Sequence = 1401 WHERE Action = 'RemoveExistingProducts'"
msibuild "$package" -q "UPDATE InstallExecuteSequence SET Sequence = 6500 WHERE Action = 'WriteRegistryValues'"
# A per-user installation is one without ALLUSERS or, when it is removed,
# repaired or replaced, one found in the user's registry (PERUSERINSTALLED):
# removing checks the conditions again, and may run with ALLUSERS set.
per_user='NOT ALLUSERS OR PERUSERINSTALLED'
for component in VerbHKCU UninstallIconHKCU; do
  msibuild "$package" -q "UPDATE Component SET Condition = '$per_user' WHERE Component = '$component'"
done
for component in VerbHKLM UninstallIconHKLM; do
  msibuild "$package" -q "UPDATE Component SET Condition = 'NOT ($per_user)' WHERE Component = '$component'"
done
package_code=$(msiinfo suminfo "$package" | sed -n 's/^Revision number (UUID): //p')
msibuild "$package" -s "Veltrane $version" "$publisher" "x64;2052" "$package_code"
bash tools/windows/sign.sh "$package"

# IT's guide, beside the installer: the version, the verb, the upgrade code
# (from veltrane.wxs) and the support contact written in.
upgrade_code=$(sed -n 's/.*UpgradeCode="\([^"]*\)".*/\1/p' tools/windows/veltrane.wxs)
support="Web: $support_url"$'\n\n'"Contact: $support_contact"
if [ -n "$support_telephone" ]; then support+=$'\n\n'"Telephone: $support_telephone"; fi
deployment=$work/veltrane-$version-win64-deployment.txt
# With a byte order mark, as the guide in Chinese: without it, the Notepad
# of older Windows reads UTF-8 in the ANSI code page.
{
  printf '\357\273\277'
  awk -v version="$version" -v verb="$verb" -v code="$upgrade_code" -v support="$support" '
    $0 == "@SUPPORT@" { print support; next }
    { gsub(/@VERSION@/, version); gsub(/@VERB@/, verb); gsub(/@UPGRADE_CODE@/, code); print }
  ' tools/windows/deployment.md | crlf /dev/stdin
} >"$deployment"

# The kit.
name=enn-$version-win64
kit=$work/kit/$name
mkdir -p "$kit/bin" "$kit/lib" "$kit/include"
cp "$work/bin/enn.exe" "$work/bin/$(basename "$enn_dll")" "$kit/bin/"
cp "$enn_import_lib" "$kit/lib/"
crlf "$enn_def" >"$kit/lib/enn.def"
crlf codec/enn.h >"$kit/include/enn.h"
crlf "$build/include/enn_version.h" >"$kit/include/enn_version.h"
crlf LICENSE >"$kit/LICENSE.txt"
sed "s/@VERSION@/$version/" tools/windows/kit-README.md | crlf /dev/stdin >"$kit/README.txt"
zip=$work/$name.zip
(cd "$work/kit" && zip -qrX "$zip" "$name")

mv -f "$package" "$deployment" "$zip" "$out/"
echo "Wrote $out/$(basename "$package")"
echo "Wrote $out/$(basename "$deployment")"
echo "Wrote $out/$name.zip"
