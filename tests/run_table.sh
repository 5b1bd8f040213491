#!/bin/bash
# The real program on real folders, one row per case:
#   row HOSTS 'before' 'argument text' 'after' [option ...]
# HOSTS: L (tarvik) and/or W (Tarvik.exe under Wine). Trees list entries
# separated by ";": "d/" folder, "f=text" file, "f=@SIZE" file of SIZE bytes,
# "f=~SIZE" sparse file, "l->to" symbolic link, "h=>f" hard link, "p|fifo",
# "s|socket"; "#MODE" after an entry sets its mode. An after tree that starts
# with "!" is a check run in the row's folder instead. In argument texts "/"
# becomes the host's separator and {R} the row's folder. Options: user (as
# nobody when run as root), root, fsize=BYTES, tmpfs=DIR:SIZE, par=N (runs at
# once; {i} is the run's number, sources s0... differ in size), kill=N,
# strace=OPTIONS, setup=COMMAND (before the run), during=COMMAND (while),
# split (Linux: the text is an argument list split at "|"), cmd (Windows: the
# text is the whole command line, {P} the program). Every run must end by
# itself, print nothing and exit 0. Usage: run_table.sh L|W PROGRAM [LAUNCHER]
set -u
host=$1 program=$(realpath "$2") launcher=${3:+$(realpath "$3")}
top=$(mktemp -d "${TMPDIR:-/tmp}/tarvik-tests.XXXXXX")
cleanup() {
    grep -F " $top/" /proc/mounts | cut -d' ' -f2 | xargs -r -n1 umount -l
    [ -n "${TARVIK_KEEP:-}" ] && echo "kept $top" && return
    chmod -R u+rwX "$top" 2>/dev/null
    rm -rf "$top"
}
trap cleanup EXIT
chmod 711 "$top"
failures=0 count=0 skipped=0
[ "$(id -u)" = 0 ] && root=1 || root=
if [ -n "$root" ]; then # nobody must reach its own copy of the program
    mkdir "$top/bin" && cp "$program" "$top/bin/" && chmod -R a+rX "$top/bin"
fi

fail() { echo "FAIL [$name]: $*" && failures=$((failures + 1)); }
split() { IFS="$1" read -r -d '' -a parts < <(printf '%s\0' "$2"); }
rep() { local s && printf -v s '%*s' "$1" '' && printf '%s' "${s// /$2}"; }
same() { cmp -s "$1" "$2"; }
sparse() { [ $(($(stat -c '%b*%B' "$1"))) -lt $(($(stat -c %s "$1") / 2)) ]; }
owner() { [ "$(stat -c '%u %a' "$2")" = "$1" ]; }
one_of() { for s in s*; do same "$s" "$1" && return; done && false; }
# Windows: a copy of the program whose UTF-8 code page entry does not take
# effect (the element renamed), so that it runs in the system's code page.
legacy_copy() { sed 's/activeCodePage/activeCodePagX/g' "$program" >"$top/legacy.exe"; }
no_leftovers() { [ -z "$(find . -name '.tarvik*' -o -name '~tarvik*')" ]; }
lease() { # holds a write lease on $1 in the background; writes "ready" when a reader breaks it
    perl -MFcntl -e '$SIG{IO} = sub { print F "ready"; exit }; open(F, "+<", $ARGV[0]) && fcntl(F, 1024, F_WRLCK) &&
        open(G, ">", "$ARGV[0].leased") && sleep 9' "$1" &
    for _ in {1..100}; do [ -e "$1.leased" ] && break || sleep 0.05; done
}

build() { # tree
    split ';' "$1"
    for e in "${parts[@]}"; do
        mode=
        [[ $e =~ ^(.*)#([0-7]+)$ ]] && e=${BASH_REMATCH[1]} mode=${BASH_REMATCH[2]}
        path=${e%%[=|]*} && path=${path%%->*} && path=${path%/}
        mkdir -p "$(dirname "$path")"
        case $e in
        */) mkdir -p "$e" ;;
        *'->'*) ln -s "${e#*->}" "$path" ;;
        *'=>'*) ln "${e#*=>}" "$path" ;;
        *'|fifo') mkfifo "$path" ;;
        *'|socket') perl -MIO::Socket::UNIX -e 'IO::Socket::UNIX->new(Local => $ARGV[0], Listen => 1)' "$path" ;;
        *=@*) yes "$path" | head -c "${e#*=@}" >"$path" ;;
        *=~*) truncate -s "${e#*=~}" "$path" && echo head | dd of="$path" conv=notrunc status=none &&
            echo tail | dd of="$path" bs=1M seek=4097 conv=notrunc status=none ;;
        *) printf '%s' "${e#*=}" >"$path" ;;
        esac
        [ -n "$mode" ] && modes+=("$mode" "$path")
    done
}

list() { # the tree in the current folder, sorted, as one text
    find . -mindepth 1 -print0 | while IFS= read -r -d '' p; do
        p=${p#./}
        if [ -L "$p" ]; then printf '%s\0' "$p->$(readlink "$p")"
        elif [ -d "$p" ]; then printf '%s\0' "$p/"
        elif [ -p "$p" ]; then printf '%s\0' "$p|fifo"
        elif [ -S "$p" ]; then printf '%s\0' "$p|socket"
        else printf '%s\0' "$p=$(cat "$p")"; fi
    done | LC_ALL=C sort -z | tr '\0' ';'
}

host_text() { # the row's argument text in the host's form
    if [ "$host" = W ]; then
        text=${text//\{R\}/Z:$dir} && text=${text//\{P\}/Z:$program} && text=${text//\//\\}
    else
        text=${text//\{R\}/$dir}
    fi
}

start() { # one run of the program with the row's text, in the background
    local t=${text//\{i\}/$1}
    if [ "$host" = L ]; then
        local arguments=("$t")
        [ -n "$splitargs" ] && split '|' "$t" && arguments=("${parts[@]}")
        $prefix "$exe" "${arguments[@]}" >"$top/out.$1" 2>&1 &
    else
        [ -z "$whole" ] && t="\"Z:${program//\//\\}\" $t"
        TARVIK_COMMAND_LINE=$t $prefix wine "$launcher" >"$top/out.$1" 2>&1 &
    fi
    pids+=($!)
}

finish() { # waits for the runs; each must end by itself, quietly, with 0
    for i in "${!pids[@]}"; do
        wait "${pids[$i]}"
        status=$?
        [ $status = 0 ] || [ -n "$killing" ] || fail "run $i ended with status $status"
        [ -s "$top/out.$i" ] && fail "run $i printed: $(head -c 300 "$top/out.$i")"
    done
    pids=()
}

row() { # hosts before text after options...
    local hosts=$1 before=$2 after=$4 runs=1 killing= option
    text=$3 name="$hosts '$3'" splitargs= whole= prefix="timeout -k 5 60" exe=$program
    local during= setup= skip= tmpfs= chown=
    shift 4
    [[ $hosts == *$host* ]] || return 0
    count=$((count + 1))
    dir="$top/row$count"
    mkdir "$dir" && cd "$dir" || return
    for option in "$@"; do
        case $option in
        user) [ -n "$root" ] && chown=1 exe=$top/bin/$(basename "$program") &&
            prefix="$prefix setpriv --reuid=65534 --regid=65534 --clear-groups" ;;
        root) [ -n "$root" ] || skip="needs root" ;;
        fsize=*) prefix="$prefix prlimit --fsize=${option#*=}" ;;
        tmpfs=*) tmpfs=${option#*=} ;;
        par=*) runs=${option#*=} ;;
        kill=*) runs=${option#*=} killing=1 prefix= ;;
        strace=*) prefix="$prefix strace -f -o /dev/null ${option#*=}" ;;
        during=*) during=${option#*=} ;;
        setup=*) setup=${option#*=} ;;
        split) splitargs=1 ;;
        cmd) whole=1 ;;
        esac
    done
    if [ -n "$tmpfs" ] && [ -z "$skip" ]; then
        mkdir -p "${tmpfs%:*}"
        mount -t tmpfs -o "size=${tmpfs#*:}" tarvik "${tmpfs%:*}" 2>/dev/null ||
            skip="cannot mount a file system here"
    fi
    if [ -n "$skip" ]; then
        echo "skip [$name]: $skip" && skipped=$((skipped + 1)) && cd "$top" && return
    fi
    modes=()
    build "$before"
    for ((i = 0; runs > 1 && !killing && i < runs; i++)); do yes $i | head -c $((i * 999 + 9)) >s$i; done
    [ -n "$setup" ] && (eval "$setup")
    [ -n "$chown" ] && chown -R 65534:65534 .
    for ((m = 0; m < ${#modes[@]}; m += 2)); do chmod "${modes[m]}" "${modes[m + 1]}"; done
    host_text
    pids=()
    if [ -n "$killing" ]; then
        for ((r = 0; r < runs; r++)); do
            printf -v pause '0.%03d' $((RANDOM % 400))
            start 0 && sleep "$pause" && kill -9 "${pids[0]}" 2>/dev/null
            finish
        done
    else
        for ((r = 0; r < runs; r++)); do start "$r"; done
        [ -n "$during" ] && (eval "$during")
        finish
    fi
    chmod -R u+rwX . 2>/dev/null
    if [[ $after == '!'* ]]; then
        (eval "${after#!}") || fail "check failed: ${after#!}"
        no_leftovers || fail "left behind: $(find . -name '.tarvik*' -o -name '~tarvik*')"
    else
        split ';' "$after"
        expected=$(printf '%s\0' "${parts[@]}" | LC_ALL=C sort -z | tr '\0' ';')
        actual=$(list)
        [ "$actual" = "$expected" ] || fail "left $actual"$'\n'"  wanted $expected"
    fi
    cd "$top" && [ -n "$tmpfs" ] && umount "$dir/${tmpfs%:*}"
    return 0
}

random_texts() { # N texts from pieces that cannot leave the row's folder
    local pieces=(a b/ c, ' ' 'd\' '"' é '*' ',,' 'x/y/')
    RANDOM=$2
    for ((t = 0; t < $1; t++)); do
        text=
        for ((p = RANDOM % 24; p > 0; p--)); do text+=${pieces[RANDOM % ${#pieces[@]}]}; done
        row "$host" 'a.log=x;b/' "$text" '!true'
    done
}

# shellcheck source=rows.sh
. "$(dirname "$0")/rows.sh"
echo "$count rows, $skipped skipped, $failures failed"
[ "$failures" = 0 ]
