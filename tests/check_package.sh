#!/bin/sh
# What a release in dist/ holds: checksums that verify, every file the README
# names, the package's files (the same as an install from the build folder,
# whose program is built with other flags, and the package's changelog), the
# shared C++ runtime, the version and date in the manual page,
# a stripped program that copies as the README says, and the zip's members
# (both exes, the texts in Windows line ends, the examples building beside
# them), its README's NSIS section the same as the README's.
# Usage: check_package.sh DIST BUILD_FOLDER
set -eu
dist=$(cd "$1" && pwd)
readme=$(dirname "$0")/../README.md
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$dist" && sha256sum --quiet -c SHA256SUMS)
for name in $(grep -o 'tarvik[-_][0-9][0-9.]*[-_.][a-z0-9_.]*[a-z]' "$readme" | sort -u); do
    test -e "$dist/$name" || { echo "FAIL: README names $name, not in the release" && exit 1; }
done
deb=$(echo "$dist"/tarvik_*_amd64.deb)
version=$(dpkg-deb -f "$deb" Version) && version=${version%-*}
dpkg-deb -f "$deb" Section Depends | tr '\n' ' ' | grep -q '^Section: utils Depends: libc6 (>= [^)]*), .*libstdc++6 '
dpkg-deb -x "$deb" "$work/deb"
cmake --install "$2" --prefix "$work/install" --strip >/dev/null
(cd "$work/install" && find . ! -type d | sort | tr '\n' ' ') | grep -qx "./bin/tarvik \
./share/doc/tarvik/copyright ./share/man/man1/tarvik.1.gz "
# The package adds only its lintian notes and Debian's changelog and notes.
rm -r "$work/deb/usr/share/lintian" "$work/deb/usr/share/doc/tarvik/"*.Debian*
diff -r -x bin "$work/deb/usr" "$work/install"
# dpkg-buildflags' hardening reached the compiler and the linker.
hardening=$(readelf -dsW "$work/deb/usr/bin/tarvik")
echo "$hardening" | grep -q 'FLAGS.*BIND_NOW' && echo "$hardening" | grep -q __stack_chk_fail
zcat "$work/deb/usr/share/man/man1/tarvik.1.gz" >"$work/tarvik.1"
grep -qx "This page describes Tarvik $version." "$work/tarvik.1"
dated=$(dpkg-parsechangelog -l "$(dirname "$0")/../debian/changelog" -SDate)
grep -qx ".Dd $(date -d "$dated" '+%B %-d, %Y')" "$work/tarvik.1"
echo log >"$work/setup.log"
"$work/deb/usr/bin/tarvik" "$work/setup.log,$work/Logs/Setup/Day1/,setup.log"
cmp "$work/setup.log" "$work/Logs/Setup/Day1/setup.log"
zip=$dist/tarvik-$version-windows.zip
test "$(unzip -Z1 "$zip" | tr '\n' ' ')" = "LICENSE.txt README.txt install-log.nsi install-log.wxs x64/Tarvik.exe x86/Tarvik.exe "
test "$(unzip -p "$zip" LICENSE.txt README.txt install-log.\* | grep -vc "$(printf '\r')$")" = 0
# Both examples build where the zip is unpacked.
unzip -q "$zip" -d "$work/zip"
(cd "$work/zip" && makensis -V1 install-log.nsi >/dev/null && wixl -a x86 -o Example-1.0.msi install-log.wxs)
# The text under a heading, "## Heading" or a line underlined with dashes.
nsis() {
    tr -d '\r' | sed 's/^## \(.*\)/\1\n--/' |
        awk '/^--+$/ { f = held == "In an NSIS installer"; h = 0; next } f && h { print held } { held = $0; h = 1 }'
}
unzip -p "$zip" README.txt | nsis >"$work/nsis"
test -s "$work/nsis" && nsis <"$readme" | diff "$work/nsis" -
