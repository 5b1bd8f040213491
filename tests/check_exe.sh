#!/bin/sh
# What a Windows user relies on without running Tarvik.exe: a windowless
# program under 256 KiB that needs no DLL beyond the system's own and carries
# its version record and its application manifest for its processor.
exe=$1 objdump=$2 processor=$3 fail=0
fail() { echo "FAIL: $1" && fail=1; }
headers=$("$objdump" -p "$exe")
echo "$headers" | grep -q '^Subsystem.*(Windows GUI)' || fail "not a GUI-subsystem program"
dlls=$(echo "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z')
echo "$dlls" | grep -vqxE 'kernel32.dll|msvcrt.dll|advapi32.dll' && fail "imports $(echo $dlls)"
# The manifest is resource type 24 (0x18), id 1.
echo "$headers" | grep -A2 'Entry: ID: 0x000018' | grep -q 'Entry: ID: 0x000001' || fail "no manifest"
# Version strings are UTF-16, the manifest UTF-8: its execution level, code
# page, long-path awareness and the supported systems, Windows 7 to 10/11.
texts=$(strings -el "$exe" && strings -a "$exe")
for text in 040904b0 FileVersion 1.01.0025 ProductVersion ProductName Tarvik Comments Copies \
    FileDescription InternalName OriginalFilename Tarvik.exe "Copyright (c) 2026 the Tarvik \
authors, MIT License" 'version="1.1.0.25"' 'level="asInvoker"' '>UTF-8</activeCodePage>' \
    '>true</longPathAware>' 35138b9a-5d96-4fbd-8e2d-a2440225f93a 4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 \
    1f676c76-80e1-4239-95bb-83d0f6d0da78 8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a \
    "processorArchitecture=\"$processor\""; do
    echo "$texts" | grep -qF -- "$text" || fail "lacks $text"
done
# FILEVERSION and PRODUCTVERSION 1,1,0,25: the fixed block's signature and
# structure version, then 1.1 and 0.25 as two 32-bit words, twice.
od -An -tx1 -v "$exe" | tr -d ' \n' | grep -q 'bd04effe000001000100010019000000010001001900000' ||
    fail "FILEVERSION and PRODUCTVERSION are not 1,1,0,25"
size=$(wc -c <"$exe") && echo "size: $size bytes" && [ "$size" -lt 262144 ] || fail "not under 256 KiB"
exit $fail
