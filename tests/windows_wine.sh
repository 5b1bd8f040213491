#!/bin/sh
# Builds, in folder $1, a private Wine that behaves as Windows where the
# installed Wine is kinder, and puts `wine` and `wine-stable` for it in $1/bin:
# CopyFile there opens its source sharing reading and deletion only, as
# Windows does, so a source that a writer holds open fails with a sharing
# violation. Made from the installed Wine alone; the system's files stay as
# they are. The loader finds ntdll.so, and ntdll.so the DLLs, by their place
# relative to its own, so both are copies in a tree that mirrors the
# installed paths; everything else is a link.
set -eu
tree=$1 loader=$(realpath "${WINELOADER:-/usr/lib/wine/wine64}")
ntdll=$(realpath "$(dirname "$loader")"/../*/wine/x86_64-unix/ntdll.so "$(dirname "$loader")"/../lib*/wine/x86_64-unix/ntdll.so 2>/dev/null | head -1)
dlls=$(dirname "$(dirname "$ntdll")")
mkdir -p "$tree/bin" "$tree$(dirname "$loader")" "$tree/usr/share"
cp "$loader" "$tree$loader"
for d in "$dlls"/*/; do
    d=${d%/} && mkdir -p "$tree$d" && ln -sf "$d"/* "$tree$d/"
done
rm "$tree$ntdll" && cp "$ntdll" "$tree$ntdll"
[ -e "$tree/usr/share/wine" ] || ln -s /usr/share/wine "$tree/usr/share/wine"
# CopyFileExW's source open: GENERIC_READ, share 7 (read, write, delete) made 5.
kernelbase=$dlls/x86_64-windows/kernelbase.dll
rm "$tree$kernelbase"
perl -0777 -pe '$n = s/\x41\xb8\x07(\x00\x00\x00.{0,16}?\xba\x00\x00\x00\x80)/\x41\xb8\x05$1/gs;
    die "kernelbase.dll: the CopyFile source open found $n times, not once\n" if $n != 1' \
    "$kernelbase" >"$tree$kernelbase"
printf '#!/bin/sh\nWINELOADER="%s" WINESERVER="%s" exec "%s" "$@"\n' "$tree$loader" \
    "$(command -v wineserver)" "$tree$loader" >"$tree/bin/wine"
chmod 755 "$tree/bin/wine" && ln -sf wine "$tree/bin/wine-stable" && chmod -R a+rX "$tree"
