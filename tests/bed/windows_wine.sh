#!/bin/sh
# Builds, in folder $1, a private Wine that behaves as Windows where the
# installed Wine differs, and puts `wine` and `wine-stable` for it in $1/bin:
# msiexec's log there lets readers in while it writes, as Windows Installer's
# does, where Wine's shares writing only. CopyFile needs no change: Wine's
# opens its source as Windows' does, so a writer that shares reading lets it
# copy, and one that does not share reading keeps it out. Made from the
# installed Wine alone; the system's files stay as they are. The loader finds ntdll.so,
# and ntdll.so the DLLs, by their place relative to its own, so both are
# copies in a tree that mirrors the installed paths; everything else is a
# link. The 64-bit loader starts 32-bit programs with the 32-bit one beside
# it (wine32), which has an ntdll.so and DLLs of its own.
set -eu
tree=$1 loader=$(realpath "${WINELOADER:-/usr/lib/wine/wine64}")
mkdir -p "$tree/bin" "$tree$(dirname "$loader")" "$tree/usr/share"
for l in "$loader" "${loader%64}"; do [ ! -e "$l" ] || cp "$l" "$tree$l"; done
[ -e "$tree/usr/share/wine" ] || ln -s /usr/share/wine "$tree/usr/share/wine"
for ntdll in $(realpath "$(dirname "$loader")"/../*/wine/*-unix/ntdll.so "$(dirname "$loader")"/../lib*/wine/*-unix/ntdll.so 2>/dev/null | sort -u); do
    dlls=$(dirname "$(dirname "$ntdll")") arch=$(basename "$(dirname "$ntdll")" -unix)
    for d in "$dlls"/*/; do d=${d%/} && mkdir -p "$tree$d" && ln -sf "$d"/* "$tree$d/"; done
    rm "$tree$ntdll" && cp "$ntdll" "$tree$ntdll"
    # The tree's own msi.dll (32-bit, as the examples are), where msiexec's
    # log opens GENERIC_WRITE with share 2 (write), made 3 (the share passed
    # on the stack) at exactly the two calls that do so.
    if [ "$arch" != x86_64 ]; then f=$dlls/$arch-windows/msi.dll && rm "$tree$f"
        perl -0777 -pe '$n = s/(\x0c\0\0\0\0\xc7\x44\x24\x08)\x02(\0\0\0\xc7\x44\x24\x04\0\0\0\x40)/$1\x03$2/g;
            die "msi.dll: the call to change found $n times, not 2\n" if $n != 2' "$f" >"$tree$f"; fi
done
printf '#!/bin/sh\nWINELOADER="%s" WINESERVER="%s" exec "%s" "$@"\n' "$tree$loader" \
    "$(command -v wineserver)" "$tree$loader" >"$tree/bin/wine"
chmod 755 "$tree/bin/wine" && ln -sf wine "$tree/bin/wine-stable" && chmod -R a+rX "$tree"
