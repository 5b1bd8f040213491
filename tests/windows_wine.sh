#!/bin/sh
# Builds, in folder $1, a private Wine that behaves as Windows where the
# installed Wine differs, and puts `wine` and `wine-stable` for it in $1/bin:
# CopyFile there opens its source sharing reading and deletion only, as
# Windows does, so a source that a writer holds open fails with a sharing
# violation; and msiexec's log lets readers in while it writes, as Windows
# Installer's does, where Wine's shares writing only. Made from the installed
# Wine alone; the system's files stay as they are. The loader finds ntdll.so,
# and ntdll.so the DLLs, by their place relative to its own, so both are
# copies in a tree that mirrors the installed paths; everything else is a
# link. The 64-bit loader starts 32-bit programs with the 32-bit one beside
# it (wine32), which has an ntdll.so and DLLs of its own.
set -eu
tree=$1 loader=$(realpath "${WINELOADER:-/usr/lib/wine/wine64}")
mkdir -p "$tree/bin" "$tree$(dirname "$loader")" "$tree/usr/share"
for l in "$loader" "${loader%64}"; do [ ! -e "$l" ] || cp "$l" "$tree$l"; done
[ -e "$tree/usr/share/wine" ] || ln -s /usr/share/wine "$tree/usr/share/wine"
# The tree's copy of this architecture's DLL $1, with the one-argument
# change $2 made exactly $3 times.
patch() {
    f=$dlls/$arch-windows/$1 && rm "$tree$f"
    perl -0777 -pe "\$n = $2; die \"$f: the call to change found \$n times, not $3\\n\" if \$n != $3" "$f" >"$tree$f"
}
for ntdll in $(realpath "$(dirname "$loader")"/../*/wine/*-unix/ntdll.so "$(dirname "$loader")"/../lib*/wine/*-unix/ntdll.so 2>/dev/null | sort -u); do
    dlls=$(dirname "$(dirname "$ntdll")") arch=$(basename "$(dirname "$ntdll")" -unix)
    for d in "$dlls"/*/; do d=${d%/} && mkdir -p "$tree$d" && ln -sf "$d"/* "$tree$d/"; done
    rm "$tree$ntdll" && cp "$ntdll" "$tree$ntdll"
    # CopyFileExW's source open: GENERIC_READ, share 7 (read, write, delete)
    # made 5; msiexec's log (32-bit, as the examples are): GENERIC_WRITE,
    # share 2 (write) made 3. x64 passes the share in r8d, x86 on the stack.
    if [ "$arch" = x86_64 ]; then patch kernelbase.dll 's/\x41\xb8\x07(\0\0\0.{0,16}?\xba\0\0\0\x80)/\x41\xb8\x05$1/gs' 1
    else patch kernelbase.dll 's/(\xc7\x44\x24\x08)\x07(\0\0\0\xc7\x44\x24\x04\0\0\0\x80)/$1\x05$2/g' 1
        patch msi.dll 's/(\x0c\0\0\0\0\xc7\x44\x24\x08)\x02(\0\0\0\xc7\x44\x24\x04\0\0\0\x40)/$1\x03$2/g' 2; fi
done
printf '#!/bin/sh\nWINELOADER="%s" WINESERVER="%s" exec "%s" "$@"\n' "$tree$loader" \
    "$(command -v wineserver)" "$tree$loader" >"$tree/bin/wine"
chmod 755 "$tree/bin/wine" && ln -sf wine "$tree/bin/wine-stable" && chmod -R a+rX "$tree"
