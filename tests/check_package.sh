#!/bin/sh
# What a release in dist/ holds: checksums that verify, every file the README
# and doc/releasing.md name, the package's files (the same as an install from the build folder,
# whose program is built with other flags, and the package's changelog), the
# shared C++ runtime, the version and date in the manual page,
# a stripped program that copies as the README says, and the zip's members
# (both exes, the texts in Windows line ends, the examples building beside
# them), the NSIS lines its README shows the example's own.
# Usage: check_package.sh DIST BUILD_FOLDER
set -eu
dist=$(cd "$1" && pwd)
top=$(dirname "$0")/..
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$dist" && sha256sum --quiet -c SHA256SUMS)
for name in $(cat "$top/README.md" "$top/doc/releasing.md" | grep -o 'tarvik[-_][0-9][0-9.]*[-_.][a-z0-9_.]*[a-z]' | sort -u); do
    test -e "$dist/$name" || { echo "FAIL: the README or doc/releasing.md names $name, not in the release" && exit 1; }
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
dated=$(dpkg-parsechangelog -l "$top/debian/changelog" -SDate)
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
# The NSIS lines README.txt shows, indented by two more, are lines of the example.
unzip -p "$zip" README.txt | tr -d '\r' | sed -n '/^In an NSIS installer/,/^In an Inno/s/^  \(  .*\)/\1/p' >"$work/shown"
tr -d '\r' <"$work/zip/install-log.nsi" >"$work/nsi"
test -s "$work/shown"
! grep -vxFf "$work/nsi" "$work/shown" || exit 1
