#!/bin/sh
# What a Windows user relies on without running Tarvik.exe: it is a
# windowless program, needs no DLL beyond the system's own, and carries its
# version record and manifest.
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
# The application manifest, resource type 24 id 1, and what Windows reads in it.
grep -A2 'Entry: ID: 0x000018' "$work/headers" | grep -q 'Entry: ID: 0x000001' ||
    fail "no manifest resource"
strings -a "$exe" >"$work/narrow"
for text in 'version="1.1.0.25"' 'level="asInvoker"' '>UTF-8</activeCodePage>' \
    '>true</longPathAware>' 35138b9a-5d96-4fbd-8e2d-a2440225f93a 4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 \
    1f676c76-80e1-4239-95bb-83d0f6d0da78 8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a; do
    grep -qF -- "$text" "$work/narrow" || fail "manifest lacks $text"
done
echo "size: $(wc -c <"$exe") bytes"
exit $fail
