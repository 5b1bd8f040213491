#!/bin/sh
# The NSIS example as an installer author uses it: built around Tarvik.exe,
# run silently, and its log found in the chain it did not have before.
set -eu
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$1" "$2" "$work/"
# Wine here runs 64-bit programs only; the example itself targets any Windows.
(cd "$work" && makensis -V2 "-XTarget amd64-unicode" "$(basename "$1")")
wine "$work/Example-1.0.exe" /S "/D=Z:$(printf '%s' "$work/App" | tr / '\\')"
grep -q "Installation complete" "$work/App/Logs/Setup/setup.log"
