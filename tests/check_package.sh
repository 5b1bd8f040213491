#!/bin/sh
# What a release in dist/ holds: checksums that verify, the package's files,
# the same files as an install from the build folder, a stripped program that
# copies as the README says, and the zip's three members.
set -eu
dist=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$dist" && sha256sum --quiet -c SHA256SUMS)
deb=$(echo "$dist"/tarvik_*.deb)
dpkg-deb -f "$deb" Section Depends | tr '\n' ' ' | grep -q '^Section: utils Depends: libc6 (>= '
dpkg-deb -x "$deb" "$work/deb"
(cd "$work/deb" && find . ! -type d | sort | tr '\n' ' ') | grep -qx "./usr/bin/tarvik \
./usr/share/doc/tarvik/changelog.gz ./usr/share/doc/tarvik/copyright ./usr/share/man/man1/tarvik.1.gz "
cmake --install "$2" --prefix "$work/install" --strip >/dev/null
diff -r "$work/deb/usr" "$work/install"
echo log >"$work/setup.log"
"$work/deb/usr/bin/tarvik" "$work/setup.log,$work/Logs/Setup/Day1/,setup.log"
cmp "$work/setup.log" "$work/Logs/Setup/Day1/setup.log"
test "$(unzip -Z1 "$dist"/tarvik-*-windows.zip | tr '\n' ' ')" = "LICENSE.txt README.md Tarvik.exe "
