#!/bin/bash
# Builds the x64 stand-ins that make Wine answer as Windows does, with the
# installed MinGW, into folder $2 for Tarvik.exe $1 (run_table.sh calls it):
#   posix-Tarvik.exe, whose kernel32 is POSIXK32.dll (posix.c): the POSIX
#     rename and delete of current Windows;
#   with "sweep" as $3 also faults.exe, whose kernel32 and advapi32 are
#     FAULTK32.dll and FAULTA32.dll (faults.c), and posix-faults.exe, whose
#     FAULTP32.dll is FAULTK32.dll passing on to POSIXK32.dll.
# A stand-in exports each call its importer takes from the system DLL: its
# own where it has one (F_NAME, P_NAME), else a forwarder to the system's.
# An importer is switched to a stand-in by the name in its import table,
# which keeps its length.
set -eu
program=$1 out=$2 bed=$(dirname "$0") p=x86_64-w64-mingw32- objects=$2/bed-objects && mkdir -p "$objects"
imports() { # DLL OBJECT FILE...: what FILE... import from DLL, each OBJECT's own (F_NAME, P_NAME) or DLL's
    local dll=$1 wrapped && wrapped=" $(${p}nm "$2" | sed -n 's/.* T //p' | tr '\n' ' ') " && shift 2
    ${p}objdump -p "$@" | sed -n "/DLL Name: $dll/,/^\$/s/^\t[0-9a-f]*\t *[0-9]*  //p" | sort -u | while read -r f; do
        case $wrapped in *" F_$f "*) echo "$f=F_$f" ;; *" P_$f "*) echo "$f=P_$f" ;; *) echo "$f=${dll,,}.$f" ;; esac
    done | sed 1iEXPORTS
}
rename_import() { perl -0777 -pe "s/$1\\.dll\\0/$2.dll\\0/ or die \"no $1.dll import\\n\"" "$3" >"$4"; }
if [ "${3-}" = sweep ]; then
    ${p}gcc -c -O1 -w -o "$objects/faults.o" "$bed/faults.c"
    for lib in KERNEL32 ADVAPI32; do
        imports $lib "$objects/faults.o" "$program" >"$objects/$lib.def"
        ${p}gcc -shared -o "$out/FAULT${lib:0:1}32.dll" "$objects/faults.o" "$objects/$lib.def"
    done
    rename_import KERNEL32 FAULTK32 "$program" "$objects/k.exe" && rename_import ADVAPI32 FAULTA32 "$objects/k.exe" "$out/faults.exe"
    rename_import KERNEL32 POSIXK32 "$out/FAULTK32.dll" "$out/FAULTP32.dll"
    rename_import FAULTK32 FAULTP32 "$out/faults.exe" "$out/posix-faults.exe"
fi
${p}gcc -c -O1 -Wall -Wextra -Werror -o "$objects/posix.o" "$bed/posix.c"
imports KERNEL32 "$objects/posix.o" "$program" ${3:+"$out/FAULTK32.dll"} >"$objects/POSIXK32.def"
${p}gcc -shared -o "$out/POSIXK32.dll" "$objects/posix.o" "$objects/POSIXK32.def"
rename_import KERNEL32 POSIXK32 "$program" "$out/posix-${program##*/}"
rm -r "$objects"
