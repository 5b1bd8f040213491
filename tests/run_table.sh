#!/bin/bash
# Runs the table of tests/rows.sh (its legend is there) against the real
# program, each row in a fresh folder of a temporary tree that is removed at
# the end (TARVIK_KEEP=1 keeps it). Usage: run_table.sh L|W PROGRAM [LAUNCHER].
# TARVIK_ROWS=root runs only the rows that need root, =plain the others;
# TARVIK_ONLY=REGEX only the rows whose name matches. TARVIK_WINE=windows runs
# Tarvik.exe under a Wine that behaves as Windows where the installed one is
# kinder (bed/windows_wine.sh); TARVIK_SWEEP=1 runs the rows marked sweep
# once more for each failure point of Tarvik.exe (bed/faults.c). The x64
# exe's rows that hold a file open or replace a target run twice: as stock
# Wine answers, as Windows does without the POSIX rename and delete (older
# Windows; FAT32, exFAT, SMB), and on current Windows' POSIX path
# (bed/posix.c), named NAME[posix]. Exits 1 when a row failed, 77 when rows were skipped and
# none failed.
set -u
host=$1 program=$(realpath "$2") launcher=${3:+$(realpath "$3")} failures=0 count=0 skipped=0 swept_points=0 posix_rows=0
tests=$(realpath "$(dirname "$0")")
top=$(mktemp -d "${TMPDIR:-/tmp}/tarvik-tests.XXXXXX")
cleanup() {
    unbehind
    [ -d "$top/wine" ] && $nobody wineserver -k
    grep -F " $top/" /proc/mounts | cut -d' ' -f2 | xargs -r -n1 umount -l
    [ -n "${TARVIK_KEEP:-}" ] && echo "kept $top" || { chmod -R u+rwX "$top" 2>/dev/null; rm -rf "$top"; }
}
trap cleanup EXIT
# Runs as nobody need a program they can reach: a copy in a folder of ours,
# not looser rights on the checkout's folders.
chmod 711 "$top" && mkdir "$top/bin" && cp "$program" ${launcher:+"$launcher"} "$top/bin/" && chmod -R a+rX "$top/bin"
printf '#!/bin/sh\nmount -t tmpfs noproc /proc && exec "$@"\n' >"$top/bin/noproc" && chmod 755 "$top/bin/noproc"
# Windows (x64): the copies on current Windows' POSIX path, and the sweep's (bed/build.sh).
if [ "$host" = W ] && [ "${TARVIK_ARCH:-x64}" = x64 ]; then
    bash "$tests/bed/build.sh" "$program" "$top/bin" ${TARVIK_SWEEP:+sweep} && chmod -R a+rX "$top/bin" || exit 1
fi
# The sweep's tables: the errors each call fails with (else the default), as
# each host's file systems answer there; the points that may leave the run's
# own name (leftover: which of those it may leave); the flush whose failure must leave the old target.
if [ "$host" = L ]; then
    # An open may also find the run out of descriptors (EMFILE), which must leave the target as it was.
    declare -A errors=([default]="EIO ENOSPC EDQUOT EPERM EACCES EINTR") && leaves='^unlinkat ' leftover= flushes='^fdatasync '
    for c in open openat openat2; do errors[$c]="${errors[default]} EMFILE"; done
else
    declare -A errors=([CreateFileW]="5 32 112" [CopyFileA]="5 32 112 206" [ReadFile]="33 64" [WriteFile]="112 64" [FlushFileBuffers]=112
        [SetEndOfFile]="1224 112" [LockFileEx]=33 [SetFileInformationByHandle]="5 32 87 50" [MoveFileExW]="5 50"
        [GetFileInformationByHandle]=87 [default]="5 32") && leaves=' on$' leftover=-empty flushes='^FlushFileBuffers 1 '
fi
[ "$(id -u)" = 0 ] && root=1 || root=
if [ "$host" = W ] && [ "${TARVIK_WINE:-}" = windows ]; then
    sh "$tests/bed/windows_wine.sh" "$top/winelike" && PATH=$top/winelike/bin:$PATH || exit 1
fi
nobody="setpriv --reuid=65534 --regid=65534 --clear-groups" # Wine as nobody: a prefix of its own
[ -n "$root" ] && [ "$host" = W ] &&
    nobody="$nobody env WINEPREFIX=$top/wine HOME=$top/wine" launcher=$top/bin/launch.exe
[ -n "$root" ] && ! $nobody test -x "$top/bin" && echo "note: user nobody cannot enter $top, so the rows run" \
    "as nobody fail; set TMPDIR to a folder every user may enter and write, such as /tmp"

# A failure names the row, its file (rows.sh or one under cases/) and line; a set-up step that fails
# is the table's fault, not the program's, and says so.
fail() { echo "FAIL $line $name: $*" && failures=$((failures + 1)); }
setup_failed() { echo "SET-UP FAILED $line $name: $*" && failures=$((failures + 1)); }
split() { IFS="$1" read -r -d '' -a parts < <(printf '%s\0' "$2"); }
sorted() { LC_ALL=C sort -z | tr '\0' ';'; }
traced() { strace="${strace:-strace -f -o /dev/null} $1"; } # one strace for all of a row's options
shim() { [ -e "$top/bin/$1.so" ] || ${TARVIK_CC:-cc} -x c -shared -fPIC -o "$top/bin/$1.so" -; } # a library to preload, from its source
behind() { "$@" & echo $! >"$top/pid"; } # a process the row needs while it runs, ended with it (unbehind)
unbehind() { [ -s "$top/pid" ] && kill "$(cat "$top/pid")" 2>/dev/null; rm -f "$top/pid"; }
rep() { yes -- "$2" | head -n "$1" | tr -d '\n'; }

# Checks, each saying what it expected and what it found.
is() { [ "$3" = "$2" ] || { echo "$1: expected '$2', found '$3'" && false; }; }
holds() { is "$1" "$2" "$(cat -- "$1" 2>&1 | head -c 200)"; }
absent() { is "$1" absent "$(stat -c %F -- "$1" 2>/dev/null || echo absent)"; }
only() { local d=$1 && shift && is "$d holds" "$*" "$(ls -A -- "$d" | tr '\n' ' ' | sed 's/ $//')"; }
bits() { is "mode of $1" "$2" "$(stat -c %a -- "$1")"; }
owns() { is "owner.mode of $1" "$2" "$(stat -c %u.%a -- "$1")"; }
grants() { is "extended ACL of $1" "$2" "$(getfacl -cpEn -- "$1" | grep -Ev '^((user|group|other|mask)::|$)' | paste -sd ' ')"; }
within() { is "seconds the run took" "under $1" "$( ((SECONDS - began < $1)) && echo "under $1" || echo $((SECONDS - began)))"; }
same() { cmp -s -- "$1" "$2" || { echo "$2: expected the bytes of $1, found $(stat -c %s -- "$2" 2>&1) other bytes" && false; }; }
one_of() { for s in s*; do cmp -s "$s" "$1" && return; done; echo "$1: expected one whole source, found a mix" && false; }
close_inherited() { local f; for f in /proc/$BASHPID/fd/*; do f=${f##*/} && ((f > 2)) && eval "exec $f>&-"; done; } # all but 0-2
every() { local i && for ((i = 0; i < runs; i++)); do eval "${1//\{i\}/$i}" || return; done; } # CHECK for each run {i}
dress() { for f; do printf old >"$f" && chmod 664 "$f" && setfattr -n user.k -v 1 "$f" && setfacl -m u:1234:r "$f" || return; done; }
dressed() { is "mode, user.k, ACL of $1" "664 1 user:1234:r--" "$(stat -c %a "$1") $(getfattr --only-values -n user.k "$1" 2>&1) $(getfacl -cpn "$1" | grep 1234)"; }
contained() { # box/0... link to each of "$@" and this folder's secret/, in a view rooted at box (a /proc of all), reached by c
    local n=0 l && mkdir -p "box$PWD/secret" box/proc || return
    for l; do ln -s "$l$PWD/secret" "box/$n" && n=$((n + 1)); done
    behind unshare -m --propagation private sh -c 'mount -t proc p box/proc && exec perl -e "chroot q(box) and chdir q(/) and sleep 30"'
    sleep 0.3 && ln -s "/proc/$(cat "$top/pid")/root" c
}
inside() { for i; do same "s$i" "box$PWD/secret/t$i" || return; done; } # the copies that stayed in the view of contained
crash() { xfs_io -x -c shutdown "$1" && umount "$1" && mount -o "$mopts" "$top/img$count" "$1"; }
peak_kib() { # the high-water resident size of the newest live process whose command line holds $1, until it ends
    for _ in {1..500}; do pid=$(pgrep -nf "$1") && break || sleep 0.02; done
    while h=$(awk '/^VmHWM/ {print $2}' "/proc/$pid/status" 2>/dev/null) && [ -n "$h" ]; do peak=$h && sleep 0.05; done
    echo "${peak:-0}"
}
opened_by_run() { # waits until a run in this row's folder holds $1 open
    for _ in {1..200}; do
        for p in $(pgrep -f "${program##*/}"); do
            [ "$(readlink "/proc/$p/cwd")" = "$PWD" ] && find "/proc/$p/fd" -lname "$PWD/$1" 2>/dev/null | grep -q . && return
        done
        sleep 0.05
    done && false
}
lease() { # holds a write lease on $1 in the background; writes "ready" when a reader breaks it
    perl -MFcntl -e '$SIG{IO} = sub { print F "ready"; exit }; open(F, "+<", $ARGV[0]) && fcntl(F, 1024, F_WRLCK) && open(G, ">", "$ARGV[0].leased") && sleep 9' "$1" &
    for _ in {1..100}; do [ -e "$1.leased" ] && break || sleep 0.05; done
}
# Whether a file, not a link, stands at the target.
replaces() { local IFS=, f t && read -r -a f <<<"$text" && t=${f[1]-} && t=${t//\{R\}/$dir}${f[2]-} && [ -n "${f[2]-}" ] && [ -f "$t" ] && [ ! -L "$t" ]; }
entry_path() { local p=${1%%[=|]*} && p=${p%%->*} && printf '%s' "${p%/}"; }
build() { # the tree in the current folder
    split ';' "$1"
    for e in "${parts[@]}"; do
        [[ $e =~ ^(.*)%([0-9]+)$ ]] && e=${BASH_REMATCH[1]} && owners+=("${BASH_REMATCH[2]}" "$(entry_path "$e")")
        [[ $e =~ ^(.*)#([0-7]+)$ ]] && e=${BASH_REMATCH[1]} && modes+=("${BASH_REMATCH[2]}" "${e%%[=|]*}")
        path=$(entry_path "$e") && mkdir -p -- "$(dirname -- "$path")" || return
        case $e in
        */) mkdir -p "$e" ;; *'->'*) ln -s "${e#*->}" "$path" ;; *'=>'*) ln "${e#*=>}" "$path" ;;
        *'|fifo') mkfifo "$path" ;; *=@*) yes "$path" | head -c "${e#*=@}" >"$path" ;;
        *=~*) truncate -s "${e#*=~}" "$path" && echo head | dd of="$path" conv=notrunc status=none && echo tail | dd of="$path" bs=1M seek=4097 conv=notrunc status=none ;;
        *) printf '%s' "${e#*=}" >"$path" ;;
        esac || return
    done
}

list() { # the tree in the current folder, as one sorted text; "#MODE" after the paths $1 names ("|a|b/c|")
    local moded=$1 modes
    # The modes are read before anything is opened up for reading.
    declare -A modes && while IFS= read -r -d '' p; do modes[${p#* }]=${p%% *}; done < <(find . -mindepth 1 -printf '%m %P\0' 2>/dev/null)
    chmod -R u+rwX . 2>/dev/null
    find . -mindepth 1 -printf '%y%P\0' | while IFS= read -r -d '' p && f=${p:1}; do
        case $p in
        l*) e="$f->$(readlink -- "$f")" ;; d*) e="$f/" ;; p*) e="$f|fifo" ;; *) e="$f=$(cat -- "$f")" ;;
        esac
        [[ $moded == *"|$f|"* ]] && e+="#${modes[$f]}"
        printf '%s\0' "$e"
    done | sorted
}

# What a random text must give in a folder holding the file a and the folder
# b: split at every comma, the chain of the second field made folder by
# folder unless a file stands in the way, and the copy of a to the second
# and third fields joined, where its folder stands and it names no folder.
model() {
    local IFS=, f && read -r -a f <<<"$1"
    local source=${f[0]-} folder=${f[1]-} target="${f[1]-}${f[2]-}" path= c tree='a=x;b/' levels
    [ "$host" = W ] && folder=${folder//\\//} target=${target//\\//}
    declare -A made=([b]=1)
    IFS=/ read -r -a levels <<<"$folder"
    for c in "${levels[@]}"; do
        [ -z "$c" ] && continue
        path=${path:+$path/}$c && [ "$path" = a ] && break
        [ -n "${made[$path]-}" ] || made[$path]=1 tree+=";$path/"
    done
    target=$(tr -s / <<<"$target") && c=${target%/*} && [ "$c" = "$target" ] && c=
    [ "$source" = a ] && [ -n "$target" ] && [[ $target != */ && $target != a ]] &&
        [ -z "${made[$target]-}" ] && { [ -z "$c" ] || [ -n "${made[$c]-}" ]; } && tree+=";$target=x"
    printf '%s' "$tree"
}

start() { # starts run $1 of the row in the background
    local t=${text//\{i\}/$1}
    if [ "$host" = L ]; then
        arguments=("$t") && [ -n "$splitargs" ] && split '|' "$t" && arguments=("${parts[@]}")
        (umask "${runmask:-$(umask)}" && { [ -z "$nofile" ] || close_inherited; } && exec $prefix ${nofile:+prlimit --nofile=$((nofile + $1))} ${preload:+env "LD_PRELOAD=$preload"} "$exe" "${arguments[@]}") >"$top/out.$1" 2>&1 &
    else
        [ -z "$whole" ] && t="\"Z:${exe//\//\\}\" $t"
        TARVIK_FAULT=$point TARVIK_COUNTS=${sweeping:+Z:${dir//\//\\}\\counts} TARVIK_COMMAND_LINE=$t TARVIK_PROGRAM=$app TARVIK_HOLD=$hold TARVIK_LOG=$log $prefix wine "$launcher" >"$top/out.$1" 2>&1 &
    fi
}

runs() { # starts the row's runs, then waits for each to end by itself, quietly, with 0
    local pids=() i
    for ((i = 0; i < runs; i++)); do start $i && pids+=($!); done
    # What happens during the run is the row's precondition: when it fails, the row proves nothing.
    [ -n "$during" ] && ! (eval "$during") && setup_failed "during the run: $during"
    if [ -n "$killing" ]; then # a kill counts only where it found the run still at work
        sleep "0.$((RANDOM % 400 + 100))"
        for i in "${pids[@]}"; do [[ $(sed 's/.*) //' "/proc/$i/stat" 2>/dev/null) == [RSD]* ]] && echo "$i" >>"$top/landed"; done
        kill -9 "${pids[@]}" 2>/dev/null
    fi
    for i in "${!pids[@]}"; do
        wait "${pids[$i]}" 2>/dev/null; status=$?
        # Wine, busy, now and then fails a start with status 1 and says nothing
        # (Tarvik.exe itself always ends with 0): such a run gets one more start.
        if [ "$host$status" = W1 ] && [ ! -s "$top/out.$i" ] && [ -z "$during$killing" ]; then
            echo "note $line $name: Wine ended run $i with status 1 and no word; started once more"
            start "$i" && wait $!; status=$?
        fi
        # Among thousands of runs bash now and then loses a reaped child's
        # status to a reused process id and answers -1: that says nothing of the run.
        [ $status = -1 ] && echo "note $line $name: the shell lost run $i's status" && status=0
        [ $status = 0 ] || [ -n "$killing" ] || fail "run $i: expected status 0, found $status"
        [ -s "$top/out.$i" ] && ! grep -qs '^held nothing' "$top/out.$i" && fail "run $i: expected silence, found: $(head -c 300 "$top/out.$i")"
    done
}

row() { # name hosts before text after options...; a row marked refused must be refused by the table
    [[ " ${*:6} " == *" refused "* ]] || { table_row "$@"; return; }
    local before=$failures ran=$count && table_row "$@" >"$top/refusal"
    [ "$count" = "$ran" ] && return # not this table's row
    [ "$failures" != "$before" ] && failures=$before && echo "refused as it must be: $(head -1 "$top/refusal")" ||
        { cat "$top/refusal" && line=${BASH_SOURCE[1]#"$tests"/}:${BASH_LINENO[0]} name=$1 fail "expected the table to refuse this row, found it ran"; }
}
table_row() {
    local args=("$@") tries=${tries:-0} name=$1 hosts=$2 before=$3 after=$5 line=${at:-${BASH_SOURCE[2]#"$tests"/}:${BASH_LINENO[1]}} runs=1 rounds=1
    local killing= during= setup= skip= tmpfs= ext4= chown= runmask= sweeping= point= preload= bad= nofile= posix=${posix-} twin=
    local timeout="timeout -k 5 60" noproc= as_user= fsize= strace= words=
    text=$4 splitargs= whole= app= hold= log= exe=$program modes=() owners=()
    shift 5
    [[ $hosts == *$host* ]] || return 0
    [[ " $* " != *" x86 "* || ${TARVIK_ARCH:-}${TARVIK_WINE:-} == x86windows ]] || return 0
    [[ $name =~ ${TARVIK_ONLY:-.} ]] || return 0
    [[ $host$* == W*" point="* && -z ${TARVIK_SWEEP:-} ]] && return 0 # the sweep's copy alone fails a call
    local needs=plain && [[ " $* " == *" root "* ]] && needs=root
    [[ ${TARVIK_ROWS:-$needs} == "$needs" ]] || return 0
    # The sanitizers read /proc themselves and must be the first library loaded:
    # the rows without /proc or with a library ahead of them are the plain build's.
    [[ " $* " =~ " "(noproc|notmpfile|noopenat2|mark)" " && -n ${ASAN_OPTIONS:-} ]] && return 0
    count=$((count + 1)) dir="$top/row$count" && unbehind # one a set-up that failed left
    mkdir "$dir" && cd "$dir" || return
    # Options combine in any order: the words before the program are put in
    # one fixed order after all are read (no /proc, then the user, limits,
    # strace, the row's own words).
    for option in "$@"; do
        case $option in
        user) [ -n "$root" ] && chown=1 exe=$top/bin/${program##*/} && as_user=$nobody ;;
        root) [ -n "$root" ] || skip="needs root" ;;
        fsize=*) fsize="prlimit --fsize=${option#*=}" ;;
        needs=*) command -v "${option#*=}" >/dev/null || skip="needs ${option#*=}" ;;
        room=*) (($(awk '/^MemAvailable/ {print $2}' /proc/meminfo) >> 20 >= ${option#*=})) || skip="needs ${option#*=} GiB free" ;;
        strace=*) command -v strace >/dev/null || skip="needs strace" ;;&
        strace=*) traced "${option#*=}" ;;
        slow=*) split : "${option#*=}" && traced "-e inject=${parts[0]}:delay_enter=${parts[1]}000:when=${parts[2]:-1}+" ;;
        tmpfs=*) tmpfs=${option#*=} ;; ext4=*) ext4=${option#*=} ;;
        noproc) noproc="unshare -m $top/bin/noproc" ;;
        notmpfile | noopenat2) shim "$option" <"$tests/no_${option#no}.c" && preload+=" $top/bin/$option.so" ;;
        mark) echo 'int close(int); __attribute__((constructor)) static void mark(void) { close(-77); }' |
            shim mark && preload+=" $top/bin/mark.so" ;;
        par=*) runs=${option#*=} ;; kill=*) rounds=${option#*=} killing=1 ;;
        during=*) during=${option#*=} ;; setup=*) setup=${option#*=} ;; split) splitargs=1 ;; cmd) whole=1 ;;
        umask=*) runmask=${option#*=} ;; prefix=*) words+=" ${option#*=}" ;; nofile=*) nofile=${option#*=} ;;
        sweep) [ "$host" = W ] && [ -n "${TARVIK_SWEEP:-}" ] && sweeping=1 exe=$top/bin/faults.exe ;;
        point=*) point=${option#*=} && name+="[$point]" ;;
        app=*) app=${option#*=} ;; hold=*) hold=${option#*=} ;; log=*) log=${option#*=} ;;
        x86 | refused) ;;
        *) bad="unknown option '$option'" ;;
        esac
    done
    # A kill must land on the program, not on a process that runs it: only
    # words that become the program (exec) may stand before it.
    [ -n "$killing" ] && [ -n "$strace$words" ] && bad="kill= cannot go with strace= or prefix=: they, not the run, would be killed"
    [ -n "$killing" ] && timeout=
    # A failure point: on Linux strace makes the call fail, on Windows faults.c.
    local c n e m && read -r c n e m <<<"$point" && [ "$m" = on ] && n+=+
    [ -n "$point" ] && [ "$host" = L ] && traced "-e inject=$c:error=$e:when=$n"
    prefix="$timeout $noproc $as_user $fsize $strace $words" preload=${preload# }
    [ -n "$posix" ] && exe=$top/bin/posix-${exe##*/} name+=[posix] && [ -z "$point" ] && posix_rows=$((posix_rows + 1))
    [ -n "$bad" ] && setup_failed "$bad" && cd "$top" && return
    [ -n "$tmpfs" ] && [ -z "$skip" ] && mkdir -p "${tmpfs%:*}" && ! mount -t tmpfs -o "size=${tmpfs#*:}" tarvik "${tmpfs%:*}" 2>/dev/null && skip="cannot mount a file system here"
    mopts=loop${ext4#"${ext4%%:*}"} && mopts=${mopts/:/,}
    [ -n "$ext4" ] && [ -z "$skip" ] && mkdir -p "${ext4%%:*}" && ! { truncate -s 32M "$top/img$count" &&
        mkfs.ext4 -qF "$top/img$count" && mount -o "$mopts" "$top/img$count" "${ext4%%:*}"; } 2>/dev/null &&
        skip="cannot mount a file system here"
    [ -n "$skip" ] && echo "skip $line $name: $skip" && skipped=$((skipped + 1)) && cd "$top" && return
    [ -n "$chown" ] && [ "$host" = W ] && [ ! -d "$top/wine" ] && install -d -o 65534 "$top/wine" &&
        $nobody wineboot -i >/dev/null 2>&1
    build "$before" || { setup_failed "cannot build $before" && cd "$top" && return; }
    for ((i = 0; runs > 1 && i < runs; i++)); do yes $i | head -c $((i * 999 + 9)) >s$i; done
    [ -n "$setup" ] && ! (eval "$setup") && setup_failed "$setup" && cd "$top" && return
    [ -n "$chown" ] && chown -R 65534:65534 .
    for ((m = 0; m < ${#owners[@]}; m += 2)); do chown -h "${owners[m]}" "${owners[m + 1]}"; done
    for ((m = 0; m < ${#modes[@]}; m += 2)); do chmod "${modes[m]}" "${modes[m + 1]}"; done
    # The x64 exe's rows that hold a file or replace one run once more on current Windows' POSIX path.
    [[ $host$whole$posix$point$sweeping = W && ${TARVIK_ARCH:-x64} = x64 ]] && { [ -n "$hold" ] || replaces; } && twin=1
    if [ "$host" = W ]; then # a whole command line is written with the host's separator
        [ -n "$whole" ] || text=${text//\//\\}
        text=${text//\{R\}/Z:${dir//\//\\}} app=${app//\{R\}/Z:${dir//\//\\}}
        text=${text//\{P\}/Z:${top//\//\\}\\bin\\${program##*/}}
    else text=${text//\{R\}/$dir}; fi
    rm -f "$top/landed" && began=$SECONDS && for ((r = 0; r < rounds; r++)); do runs; done
    if [ -n "$hold" ] && grep -qs '^held nothing' "$top"/out.*; then # the row's premise did not hold: again
        [ "$tries" -lt 9 ] && cd "$top" && rm -rf "$dir" && { at=$line tries=$((tries + 1)) table_row "${args[@]}"; return; }
        fail "expected $hold held during the run, found it never held"
    fi
    [ -n "$killing" ] && [ ! -s "$top/landed" ] && fail "expected a kill to land on a run at work, found every run ended"
    if [[ $after == '!'* ]]; then
        # A removal that fails may leave the run's own name (on Windows, emptied).
        [[ -n $point && $point =~ $leaves ]] && find . -name '[.~]tarvik-*' $leftover -delete
        found=$(eval "${after#!}" 2>&1) || fail "${found:-expected ${after#!}}"
        left=$(find . -name '.tarvik*' -o -name '~tarvik*') && [ -n "$left" ] && fail "expected nothing left, found $left"
    else
        split ';' "$after"
        local moded='|' && for e in "${parts[@]}"; do [[ $e == *#* ]] && moded+="$(entry_path "${e%#*}")|"; done
        expected=$(printf '%s\0' "${parts[@]}" | sorted) actual=$(list "$moded")
        is tree "$expected" "$actual" >/dev/null || fail "expected tree $expected"$'\n'"  found tree    $actual"
    fi
    unbehind
    cd "$top" && [ -z "$tmpfs" ] || umount "$dir/${tmpfs%:*}"
    [ -z "$ext4" ] || umount "$dir/${ext4%%:*}"
    [ -z "$twin" ] || at=$line posix=1 table_row "${args[@]}"
}

# A sweep runs one scenario once per failure point: each file call the run
# makes, at each of its occurrences, failing with each error its host's
# table gives, once and (but EINTR) from then on. Linux finds the calls in
# strace's record after a preloaded mark (close(-77) before main), so
# whatever the program's first call is, it is swept; Windows counts them in
# faults.c. Every point is a row checked by swept, and a sweep that finds
# fewer points than its floor fails: calls renamed or gone must not leave a
# scenario swept by nothing. Linux: the native build only (the sanitizers
# make calls of their own); Windows: with TARVIK_SWEEP=1, else once.
sweep() { # scenario hosts floor before text target partial-calls options...
    local scenario=$1 hosts=$2 floor=$3 before=$4 text=$5 first=$count at=${sweep_at:-${BASH_SOURCE[1]#"$tests"/}:${BASH_LINENO[0]}} points=0 calls call nth e mode
    sw_target=$6 sw_partial=$7 sw_old=absent sw_source=${5%%,*} && shift 7
    local options=() refused= && for o in "$@"; do [ "$o" = refused ] && refused=1 || options+=("$o"); done
    [[ $hosts == *$host* ]] || return 0
    [[ ";$before;" == *";$sw_target=old;"* ]] && sw_old=old
    if [ "$host" = L ]; then
        [ -z "${ASAN_OPTIONS:-}" ] || return 0
        row "sweep-$scenario" L "$before" "$text" '!swept' "${options[@]}" mark 'strace=-qq -e trace=%file,%desc -o calls'
        [ "$count" != "$first" ] && [ -s "$dir/calls" ] || return 0
        calls=$(awk -F'(' '{sub(/^[0-9]+ +/, "", $1); n[$1]++} go && $1 !~ /^(mmap|munmap|exit_group)$/ {print $1, n[$1]}
            $1 == "close" && $2 ~ /^-77\)/ {go=1}' "$dir/calls")
    else # and the x64 exe's once more on the POSIX path where a target stands
        [ -z "${posix-}" ] && [ "$sw_old" = old ] && [ "${TARVIK_ARCH:-x64}" = x64 ] && sweep_at=$at posix=1 sweep "$scenario" "$hosts" "$floor" "$before" "$text" "$sw_target" "$sw_partial" "$@"
        row "sweep-$scenario" W "$before" "$text" '!swept' "${options[@]}" sweep
        [ -n "${TARVIK_SWEEP:-}" ] && [ "$count" != "$first" ] || return 0
        calls=$(awk '{print $1, ++n[$1]}' "$dir/counts")
    fi
    while read -r call nth; do for e in ${errors[$call]:-${errors[default]}}; do for mode in once on; do
        [ "$e$mode" = EINTRon ] || { points=$((points + 1)) && row "sweep-$scenario" "$host" "$before" "$text" '!swept' "${options[@]}" sweep "point=$call $nth $e $mode"; }
    done; done; done <<<"$calls"
    echo "sweep-$scenario${posix:+[posix]}: $points failure points swept (floor $floor)" && swept_points=$((swept_points + points))
    local line=$at name=sweep-$scenario${posix:+[posix]} && if ((points < floor)); then
        [ -n "$refused" ] && echo "refused as it must be: $name: $points points, below its floor" || fail "expected $floor failure points or more, found $points"
    elif [ -n "$refused" ]; then fail "expected the table to refuse this sweep, found $points points"; fi
}
# What must hold at every point: the target is the old file or the new copy
# (the source, or for a live log what it held at the start), whole; nothing
# beside it but its chain's folders. Each host's table says which points may
# leave the target partial besides the scenario's, which leave the run's own
# name (a removal that fails), and which flush a copy that must then never
# take the target's name.
swept() {
    local t=$sw_target p allowed=' ./calls ./counts ' f now
    for p in "./$sw_target" "./$sw_source"; do while [ "$p" != . ]; do allowed+="$p " && p=${p%/*}; done; done
    for f in $(find . -mindepth 1); do [[ $allowed == *" $f "* ]] || { echo "expected nothing beside, found $f" && return 1; }; done
    now=$(cat "$t" 2>/dev/null || echo absent) && new() { if [ -n "$log" ]; then is "$t" early "$now"; else same "$sw_source" "$t"; fi; }
    if [[ -z $point ]]; then new
    elif [[ $point =~ $flushes && -z $sw_partial && $point != *EINTR* ]]; then is "$t" "$sw_old" "$now"
    else [ "$now" = "$sw_old" ] || [[ ${point%% *} =~ ^($sw_partial)$ ]] || new; fi && within 10
}

# shellcheck source=rows.sh
. "$tests/rows.sh"
for c in "$tests"/cases/*; do . "$c"; done
echo "$count rows ($swept_points of them failure points swept, $posix_rows on the POSIX path), $skipped skipped, $failures failed"
# 77: CTest reports the table as skipped, so skipped rows show in its summary.
[ "$failures" = 0 ] || exit 1
[ "$skipped" = 0 ] || exit 77
