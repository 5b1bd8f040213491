#!/bin/sh
# Every function (file:function) and every row or sweep that doc/guarantees.md
# names still exists, so that no promise points at a holder or a test that
# was renamed or removed. A row is a "row NAME" or "sweep NAME" line of
# tests/rows.sh or of a file under tests/cases/, or such a file named NAME;
# "NAME-*" stands for the rows a loop names. Usage: check_docs.sh SOURCE_TREE
cd "$1" && status=0 || exit 1
for f in $(grep -oE 'src/[A-Za-z0-9_./]+:[A-Za-z_][A-Za-z0-9_]*' doc/guarantees.md | sort -u); do
    grep -qE "^[A-Za-z].*[ *&:]${f#*:}\(" "${f%:*}" 2>/dev/null || { echo "FAIL: no function $f" && status=1; }
done
for t in $(awk -F'|' 'NF == 7 { print $5 }' doc/guarantees.md | grep -oE '`[^`]+`' | tr -d '`' | tr ' ' + | sort -u); do
    kind=row && case $t in sweep+*) kind=sweep t=${t#sweep+} ;; esac
    n=${t%\*} end='([ .]|$)' && [ "$n" = "$t" ] || end=
    grep -qsE "^ *$kind \"?$n$end" tests/rows.sh tests/cases/* || ls tests/cases 2>/dev/null | grep -qE "^$n$end" ||
        { echo "FAIL: no $kind $t" && status=1; }
done
exit $status
