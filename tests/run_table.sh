#!/bin/bash
# The real program on real folders, one row per case:
#   row HOSTS 'before' 'argument text' 'after' [option ...]
# HOSTS: L (tarvik) and/or W (Tarvik.exe under Wine). Trees list entries
# separated by ";": "d/" folder, "f=text" file, "f=@SIZE" file of SIZE bytes,
# "f=~SIZE" sparse file, "l->to" symbolic link, "h=>f" hard link, "p|fifo";
# "#MODE" after an entry sets its mode. An after tree that starts
# with "!" is a check run in the row's folder instead. In argument texts "/"
# becomes the host's separator and {R} the row's folder. Options: user (as
# nobody when run as root), root, fsize=BYTES, tmpfs=DIR:SIZE[,OPTION...],
# ext4=DIR[:OPTION] (a loop-mounted ext4 image; crash DIR cuts its power),
# noproc (no /proc mounted; before user), notmpfile (Linux: no unnamed
# files, as on NFS), umask=MODE (the runs'), par=N (runs at
# once; {i} is the run's number, sources s0... differ in size), kill=N (runs
# killed at a random moment), strace=OPTIONS, setup=COMMAND (before the run),
# during=COMMAND (while), split (Linux: the text is an argument list split at
# "|"), cmd (Windows: the text is the whole command line, written with "\",
# {P} the program), app=PATH (Windows: names the program apart),
# hold=PATTERN (Windows: a file held open for a second once it appears).
# Every run must end by itself, print nothing and exit 0, and no temporary
# file may stay behind. Usage: run_table.sh L|W PROGRAM [LAUNCHER]; exits 77
# when rows were skipped and none failed.
set -u
host=$1 program=$(realpath "$2") launcher=${3:+$(realpath "$3")} failures=0 count=0 skipped=0
tests=$(realpath "$(dirname "$0")")
top=$(mktemp -d "${TMPDIR:-/tmp}/tarvik-tests.XXXXXX")
cleanup() {
    [ -d "$top/wine" ] && $nobody wineserver -k
    grep -F " $top/" /proc/mounts | cut -d' ' -f2 | xargs -r -n1 umount -l
    [ -n "${TARVIK_KEEP:-}" ] && echo "kept $top" || { chmod -R u+rwX "$top" 2>/dev/null; rm -rf "$top"; }
}
trap cleanup EXIT
# Runs as nobody need a program they can reach: a copy in a folder of ours,
# not looser rights on the checkout's folders.
chmod 711 "$top" && mkdir "$top/bin" && cp "$program" ${launcher:+"$launcher"} "$top/bin/" && chmod -R a+rX "$top/bin"
printf '#!/bin/sh\nmount -t tmpfs noproc /proc && exec "$@"\n' >"$top/bin/noproc" && chmod 755 "$top/bin/noproc"
[ "$(id -u)" = 0 ] && root=1 || root=
nobody="setpriv --reuid=65534 --regid=65534 --clear-groups" # Wine as nobody: a prefix of its own
[ -n "$root" ] && [ "$host" = W ] &&
    nobody="$nobody env WINEPREFIX=$top/wine HOME=$top/wine" launcher=$top/bin/launch.exe

fail() { echo "FAIL [$name]: $*" && failures=$((failures + 1)); }
split() { IFS="$1" read -r -d '' -a parts < <(printf '%s\0' "$2"); }
sorted() { LC_ALL=C sort -z | tr '\0' ';'; }
rep() { local s && printf -v s '%*s' "$1" '' && printf '%s' "${s// /$2}"; }
crash() { xfs_io -x -c shutdown "$1" && umount "$1" && mount -o "$mopts" "$top/img$count" "$1"; }
one_of() { for s in s*; do cmp -s "$s" "$1" && return; done && false; }
peak_kib() { # the high-water resident size of the newest live process whose command line holds $1, until it ends
    for _ in {1..500}; do pid=$(pgrep -nf "$1") && break || sleep 0.02; done
    while h=$(awk '/^VmHWM/ {print $2}' "/proc/$pid/status" 2>/dev/null) && [ -n "$h" ]; do peak=$h && sleep 0.05; done
    echo "${peak:-0}"
}
lease() { # holds a write lease on $1 in the background; writes "ready" when a reader breaks it
    perl -MFcntl -e '$SIG{IO} = sub { print F "ready"; exit }; open(F, "+<", $ARGV[0]) && fcntl(F, 1024, F_WRLCK) && open(G, ">", "$ARGV[0].leased") && sleep 9' "$1" &
    for _ in {1..100}; do [ -e "$1.leased" ] && break || sleep 0.05; done
}
slow_renames() { # this prefix's Wine server takes 2 s over each rename until ../strace ends
    wineserver -p >/dev/null 2>&1 # none, or the persistent one that the suite warmed
    for p in $(pgrep -x 'wineserver(64)?'); do
        grep -qzx "WINEPREFIX=$WINEPREFIX" "/proc/$p/environ" 2>/dev/null && s=$p
    done
    strace -qq -o /dev/null -p "$s" -e inject=rename,renameat,renameat2:delay_enter=2000000 &
    echo $! >../strace && sleep 0.5
}
kill_in_rename() { # kills the run once its own copy stands in Logs, halfway through the slow rename
    for _ in {1..200}; do [ -e Logs/~tarvik-*-0.tmp ] && break || sleep 0.02; done
    sleep 0.5 && kill -9 $(pgrep -f "${top##*/}.row$count.")
}

build() { # the tree in the current folder
    split ';' "$1"
    for e in "${parts[@]}"; do
        [[ $e =~ ^(.*)#([0-7]+)$ ]] && e=${BASH_REMATCH[1]} && modes+=("${BASH_REMATCH[2]}" "${e%%[=|]*}")
        path=${e%%[=|]*} && path=${path%%->*} && mkdir -p "$(dirname "$path")"
        case $e in
        */) mkdir -p "$e" ;; *'->'*) ln -s "${e#*->}" "$path" ;; *'=>'*) ln "${e#*=>}" "$path" ;;
        *'|fifo') mkfifo "$path" ;; *=@*) yes "$path" | head -c "${e#*=@}" >"$path" ;;
        *=~*) truncate -s "${e#*=~}" "$path" && echo head | dd of="$path" conv=notrunc status=none && echo tail | dd of="$path" bs=1M seek=4097 conv=notrunc status=none ;;
        *) printf '%s' "${e#*=}" >"$path" ;;
        esac
    done
}

list() { # the tree in the current folder, as one sorted text
    find . -mindepth 1 -printf '%y%P\0' | while IFS= read -r -d '' p && f=${p:1}; do
        case $p in
        l*) printf '%s->%s\0' "$f" "$(readlink "$f")" ;; d*) printf '%s/\0' "$f" ;;
        p*) printf '%s|fifo\0' "$f" ;; *) printf '%s=%s\0' "$f" "$(cat "$f")" ;;
        esac
    done | sorted
}

start() { # starts run $1 of the row in the background
    local t=${text//\{i\}/$1}
    if [ "$host" = L ]; then
        arguments=("$t") && [ -n "$splitargs" ] && split '|' "$t" && arguments=("${parts[@]}")
        (umask "${runmask:-$(umask)}" && exec $prefix "$exe" "${arguments[@]}") >"$top/out.$1" 2>&1 &
    else
        [ -z "$whole" ] && t="\"Z:${exe//\//\\}\" $t"
        TARVIK_COMMAND_LINE=$t TARVIK_PROGRAM=$app TARVIK_HOLD=$hold $prefix wine "$launcher" >"$top/out.$1" 2>&1 &
    fi
}

runs() { # starts the row's runs, then waits for each to end by itself, quietly, with 0
    local pids=() i
    for ((i = 0; i < runs; i++)); do start $i && pids+=($!); done
    [ -n "$during" ] && (eval "$during")
    [ -n "$killing" ] && sleep "0.$((RANDOM % 400 + 100))" && kill -9 "${pids[@]}" 2>/dev/null
    for i in "${!pids[@]}"; do
        wait "${pids[$i]}" 2>/dev/null; status=$?
        # Wine, busy, now and then fails a start with status 1 and says nothing
        # (Tarvik.exe itself always ends with 0): such a run gets one more start.
        if [ "$host$status" = W1 ] && [ ! -s "$top/out.$i" ] && [ -z "$during$killing" ]; then
            echo "note [$name]: Wine ended run $i with status 1 and no word; started once more"
            start "$i" && wait $!; status=$?
        fi
        [ $status = 0 ] || [ -n "$killing" ] || fail "run $i ended with status $status"
        [ -s "$top/out.$i" ] && fail "run $i printed: $(head -c 300 "$top/out.$i")"
    done
}

row() { # hosts before text after options...
    local hosts=$1 before=$2 after=$4 runs=1 rounds=1 killing= during= setup= skip= tmpfs= ext4= chown= runmask=
    text=$3 name="$hosts '${3:0:100}'" splitargs= whole= app= hold= prefix="timeout -k 5 60" exe=$program modes=()
    shift 4
    [[ $hosts == *$host* ]] || return 0
    # TARVIK_ROWS=root runs only the rows that need root, =plain the others.
    local needs=plain && [[ " $* " == *" root "* ]] && needs=root
    [[ ${TARVIK_ROWS:-$needs} == "$needs" ]] || return 0
    # The sanitizers read /proc themselves: the rows without it are the plain build's.
    [[ " $* " =~ " "(noproc|notmpfile)" " && -n ${ASAN_OPTIONS:-} ]] && return 0
    count=$((count + 1)) dir="$top/row$count"
    mkdir "$dir" && cd "$dir" || return
    for option in "$@"; do
        case $option in
        user) [ -n "$root" ] && chown=1 exe=$top/bin/${program##*/} && prefix="$prefix $nobody" ;;
        root) [ -n "$root" ] || skip="needs root" ;;
        fsize=*) prefix="$prefix prlimit --fsize=${option#*=}" ;;
        strace=*) prefix="$prefix strace -f -o /dev/null ${option#*=}" ;;
        tmpfs=*) tmpfs=${option#*=} ;; ext4=*) ext4=${option#*=} ;;
        noproc) prefix="$prefix unshare -m $top/bin/noproc" ;;
        notmpfile) [ -e "$top/bin/no_tmpfile.so" ] ||
            cc -shared -fPIC -o "$top/bin/no_tmpfile.so" "$tests/no_tmpfile.c"
            prefix="$prefix env LD_PRELOAD=$top/bin/no_tmpfile.so" ;;
        par=*) runs=${option#*=} ;; kill=*) rounds=${option#*=} killing=1 prefix= ;;
        umask=*) runmask=${option#*=} ;; during=*) during=${option#*=} ;; setup=*) setup=${option#*=} ;;
        split) splitargs=1 ;; cmd) whole=1 ;;
        app=*) app=${option#*=} ;; hold=*) hold=${option#*=} ;;
        esac
    done
    [ -n "$tmpfs" ] && [ -z "$skip" ] && mkdir -p "${tmpfs%:*}" && ! mount -t tmpfs -o "size=${tmpfs#*:}" tarvik "${tmpfs%:*}" 2>/dev/null && skip="cannot mount a file system here"
    mopts=loop${ext4#"${ext4%%:*}"} && mopts=${mopts/:/,}
    [ -n "$ext4" ] && [ -z "$skip" ] && mkdir -p "${ext4%%:*}" && ! { truncate -s 32M "$top/img$count" &&
        mkfs.ext4 -qF "$top/img$count" && mount -o "$mopts" "$top/img$count" "${ext4%%:*}"; } 2>/dev/null &&
        skip="cannot mount a file system here"
    [ -n "$skip" ] && echo "skip [$name]: $skip" && skipped=$((skipped + 1)) && cd "$top" && return
    [ -n "$chown" ] && [ "$host" = W ] && [ ! -d "$top/wine" ] && install -d -o 65534 "$top/wine" &&
        $nobody wineboot -i >/dev/null 2>&1
    build "$before"
    for ((i = 0; runs > 1 && i < runs; i++)); do yes $i | head -c $((i * 999 + 9)) >s$i; done
    [ -n "$setup" ] && (eval "$setup")
    [ -n "$chown" ] && chown -R 65534:65534 .
    for ((m = 0; m < ${#modes[@]}; m += 2)); do chmod "${modes[m]}" "${modes[m + 1]}"; done
    if [ "$host" = W ]; then # a whole command line is written with the host's separator
        [ -n "$whole" ] || text=${text//\//\\}
        text=${text//\{R\}/Z:${dir//\//\\}} app=${app//\{R\}/Z:${dir//\//\\}}
        text=${text//\{P\}/Z:${top//\//\\}\\bin\\${program##*/}}
    else text=${text//\{R\}/$dir}; fi
    for ((r = 0; r < rounds; r++)); do runs; done
    chmod -R u+rwX . 2>/dev/null
    if [[ $after == '!'* ]]; then
        (eval "${after#!}") || fail "check failed: ${after#!}"
        left=$(find . -name '.tarvik*' -o -name '~tarvik*') && [ -n "$left" ] && fail "left behind: $left"
    else
        split ';' "$after"
        expected=$(printf '%s\0' "${parts[@]}" | sorted) actual=$(list)
        [ "$actual" = "$expected" ] || fail "left $actual"$'\n'"  wanted $expected"
    fi
    cd "$top" && [ -z "$tmpfs" ] || umount "$dir/${tmpfs%:*}"
    [ -z "$ext4" ] || umount "$dir/${ext4%%:*}"
}

# shellcheck source=rows.sh
. "$tests/rows.sh"
echo "$count rows, $skipped skipped, $failures failed"
# 77: CTest reports the table as skipped, so skipped rows show in its summary.
[ "$failures" = 0 ] || exit 1
[ "$skipped" = 0 ] || exit 77
