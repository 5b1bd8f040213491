#!/bin/sh
# What a Windows user relies on without running Tarvik.exe: it is a
# windowless program, needs no DLL beyond the system's own, and carries its
# version record.
exe=$1
objdump=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0
fail() {
    echo "FAIL: $1"
    fail=1
}
"$objdump" -p "$exe" >"$work/headers"
grep -q '^Subsystem.*(Windows GUI)' "$work/headers" || fail "not a GUI-subsystem program"
dlls=$(sed -n 's/^[[:space:]]*DLL Name: //p' "$work/headers" | tr 'A-Z' 'a-z' | sort -u)
echo "imports:" $dlls
for dll in $dlls; do
    case $dll in
    kernel32.dll | msvcrt.dll) ;;
    *) fail "imports $dll" ;;
    esac
done
# The version record keeps its strings in UTF-16.
strings -el "$exe" >"$work/strings"
for text in 040904b0 FileVersion 1.01.0025 ProductVersion ProductName Tarvik Comments \
    FileDescription InternalName OriginalFilename Tarvik.exe; do
    grep -qx -- "$text" "$work/strings" || fail "no version string $text"
done
grep -q '^Copies ' "$work/strings" || fail "no one-sentence Comments text"
grep -qx "Copyright (c) 2026 the Tarvik authors, MIT License" "$work/strings" || fail "no license in LegalCopyright"
# FILEVERSION and PRODUCTVERSION 1,1,0,25: the fixed block's signature and
# structure version, then 1.1 and 0.25 as two 32-bit words, twice.
od -An -tx1 -v "$exe" | tr -d ' \n' >"$work/hex"
grep -q 'bd04effe000001000100010019000000010001001900000' "$work/hex" ||
    fail "FILEVERSION and PRODUCTVERSION are not 1,1,0,25"
echo "size: $(wc -c <"$exe") bytes"
exit $fail
