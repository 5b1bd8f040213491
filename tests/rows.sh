# The rows of the run table (tests/run_table.sh), one case a line:
#   row NAME HOSTS 'before' 'argument text' 'after' [option ...]
# NAME says what the row protects; a failure prints it with its line here.
# HOSTS: L (tarvik) and/or W (Tarvik.exe under Wine). Trees list entries
# separated by ";": "d/" folder, "f=text" file, "f=@SIZE" file of SIZE bytes,
# "f=~SIZE" sparse file, "l->to" symbolic link, "h=>f" hard link, "p|fifo";
# "#MODE" after an entry sets its mode before the run ("%UID" its owner), and in the tree after
# the run it is checked. An after text that starts with "!" is a check run in
# the row's folder instead, made of commands and these words, each of which
# prints what it expected and what it found: holds FILE TEXT, absent PATH,
# only FOLDER NAME..., bits PATH MODE, same FILE COPY, is WHAT EXPECTED FOUND,
# one_of FILE (one of the sources s0...), within SECONDS (the runs took less),
# dressed FILE (the mode, xattr and ACL that "dress FILE..." gives in
# a set-up), every "CHECK" (once for each run, {i} its number).
# In argument texts "/" becomes the host's separator and {R} the row's folder.
# Options, in any order: user (as nobody when run as root), root,
# fsize=BYTES, tmpfs=DIR:SIZE[,OPTION...], ext4=DIR[:OPTION] (a loop-mounted
# ext4 image; crash DIR cuts its power), noproc (no /proc mounted), notmpfile
# (Linux: no unnamed files, as on NFS), noopenat2 (Linux: a kernel without
# openat2), umask=MODE (the runs'), prefix=WORDS (before the program),
# nofile=N (run {i} with N+{i} descriptors at most, none inherited),
# par=N (runs at once; {i} is the run's number, sources s0... differ in
# size), kill=N (runs killed at a random moment; not with strace= or
# prefix=), strace=OPTIONS, needs=COMMAND (skipped without it), room=GIB
# (skipped with less memory free), setup=COMMAND (before the run),
# during=COMMAND (while), split (Linux: the text is an argument list split
# at "|"), cmd (Windows: the text is the whole command line, written with
# "\", {P} the program), app=PATH (Windows: names the program apart),
# hold=PATTERN[|MS[|SHARE]] (Windows: a file held open, for a second (0:
# until the run ends) and shared for reading unless told (+8: mapped too),
# once it appears; a row whose file was never held runs again), log=FILE
# (Windows: a log kept open for writing during the run, "early" written
# before, "late" after), x86 (Windows: only the x86 exe's table under the
# Windows-like Wine; the examples carry that exe), sweep (Windows: the
# sweep's copy of Tarvik.exe, bed/faults.c, with TARVIK_SWEEP=1), point="CALL N
# ERROR once|on" (the Nth CALL fails; Windows: the sweep's copy only),
# mark (Linux: close(-77) before main, where a sweep's points start),
# refused (the table must refuse the row). An unknown option, or two that
# cannot go together, fails the row. A Windows row with hold= or a file at
# its target runs once more for the x64 exe, as NAME[posix], with current
# Windows' POSIX rename and delete (bed/posix.c; its checks see $posix set). Every run must end by
# itself, print nothing and exit 0, and no temporary file may stay behind.
# "sweep SCENARIO HOSTS FLOOR 'before' 'text' TARGET PARTIAL [option ...]"
# runs a scenario once per failure point of its run (run_table.sh) and
# fails when it finds fewer than FLOOR; PARTIAL names the calls whose
# failure may leave the target partial.
# shellcheck disable=SC2016,SC2034

# Splitting and joining.
row extra-fields-ignored LW 'a.log=new' 'a.log,Logs,b.log,extra' 'Logs/;Logsb.log=new;a.log=new'
row blanks-quotes-kept L 'a.log=new' 'a.log, "Logs"/,"b".log' ' "Logs"/; "Logs"/"b".log=new;a.log=new'
row comma-in-source-splits LW 'a,b.log=x' 'a,b.log,Logs/,c.log' 'a,b.log=x;b.log/'
row two-fields-chain-only LW 'a.log=new' 'a.log,Logs/A/' 'Logs/;Logs/A/;a.log=new'
row options-are-text LW '--help=x' '--help,Logs/,-v' 'Logs/;Logs/-v=x;--help=x'
row arguments-joined-by-blanks L 'a.log=new' 'a.log,|Logs/,b|c.log' ' Logs/; Logs/b c.log=new;a.log=new' split
row blanks-after-quoted-name W 'a.log=new' '"{P}"  	 a.log,Logs\,a.log' 'Logs/;Logs/a.log=new;a.log=new' cmd
row unquoted-name W 'a.log=new' '{P} a.log,Logs\,a.log' 'Logs/;Logs/a.log=new;a.log=new' cmd
row text-glued-to-name W 'a.log=new' '"{P}"a.log,Logs\,b c.log' 'Logs/;Logs/b c.log=new;a.log=new' cmd
row unquoted-path-with-blank W 'a.log=new' '{R}\My App\TARVIK.exe  a.log,Logs\,a.log' '!same a.log Logs/a.log' cmd 'app={R}\My App\Tarvik.exe' \
    'setup=mkdir "My App" && cp "$program" "My App"'
# The NSIS example, built as an author builds it, then run silently: once plainly, once over an earlier
# read-only copy (which must not pass as this run's), once with a comma in TEMP (under which $PLUGINSDIR lies),
# once followed by its uninstaller over a killed run's own file (kept in place by _?=, so it stays itself).
ex='setup=mkdir x86 && cp "$program" x86 && cp "$tests"/../examples/install-log.* . &&' nsis="$ex makensis -V2 install-log.nsi >/dev/null"
ie='"{R}\Example-1.0.exe" /S /D={R}\App' delivered='!grep -q "Installation complete" App/Logs/Setup/setup.log' removed='!only App Uninstall.exe'
row nsis-example-delivers-log W '' "$ie" "$delivered" cmd x86 "$nsis"
row nsis-example-reinstall-over-read-only W 'App/Logs/Setup/setup.log=old#444' "$ie" "$delivered && only App/Logs/Setup setup.log" cmd x86 "$nsis"
row nsis-example-comma-in-temp W 'T, x/' "cmd /c set \"TMP={R}\\T, x\"&& set \"TEMP={R}\\T, x\"&& $ie" "$removed" cmd x86 "$nsis"
row nsis-example-uninstalls W 'App/Logs/Setup/~tarvik-7-0.tmp=x' "cmd /c call $ie && call \"{R}\\App\\Uninstall.exe\" /S _?={R}\\App" "$removed" cmd x86 "$nsis"
# The MSI example built with its log's path in place of MsiLogFileLocation, which Wine's msiexec does not set.
msi="$ex"' sed -i "s|\[MsiLogFileLocation\]|Z:${PWD//\//\\\\}\\\\msi.log|" install-log.wxs && wixl -a x86 -o Example-1.0.msi install-log.wxs'
row msi-example-delivers-own-log W '' 'msiexec /i {R}\Example-1.0.msi /qn /l*v {R}\msi.log INSTALLDIR={R}\App\' \
    '!grep -q "Action start.*TarvikCopyLog" App/Logs/install.log' cmd x86 "$msi"
# The folder chain and the copy.
row chain-made-outside-in LW 'a.log=new;Logs/a.log=old' 'a.log,Logs/A/B/,a.log' 'Logs/;Logs/A/;Logs/A/B/;Logs/A/B/a.log=new;Logs/a.log=old;a.log=new'
row shorter-copy-replaces LW 'a.log=new;Logs/;Logs/a.log=old old old' 'a.log,Logs/,a.log' 'Logs/;Logs/a.log=new;a.log=new'
row empty-source-replaces LW 'a.log=;Logs/;Logs/a.log=old' 'a.log,Logs/,a.log' 'Logs/;Logs/a.log=;a.log='
row file-where-folder-was LW 'a.log=new;Logs=file' 'a.log,Logs/,a.log' 'Logs=file;a.log=new'
row empty-name-no-copy LW 'a.log=new;Logs/' 'a.log,Logs/,' 'Logs/;a.log=new'
row missing-source-chain-made LW '' 'gone.log,Logs/A/,a.log' 'Logs/;Logs/A/'
row source-time-kept LW 'a.log=new' 'a.log,Logs/,a.log' '!holds Logs/a.log new && is mtime "$(stat -c %Y a.log)" "$(stat -c %Y Logs/a.log)"' \
    'setup=touch -d $([ $host = L ] && echo 2040 || echo 2001)-02-03 a.log'
row folder-source-refused LW 'src/' 'src,Logs/,a.log' 'Logs/;src/'
row folder-target-kept LW 'a.log=new;Logs/a.log/' 'a.log,Logs/,a.log' 'Logs/;Logs/a.log/;a.log=new'
row source-is-target LW 'Logs/a.log=old' 'Logs/a.log,Logs/,a.log' 'Logs/;Logs/a.log=old'
row doubled-separators LW 'a.log=new' '{R}//a.log,{R}/Abs//X//,b.log' 'Abs/;Abs/X/;Abs/X/b.log=new;a.log=new'
row concurrent-chains LW '' 's{i},A/B/C/D/E/F/G/H/,t.log' '!one_of A/B/C/D/E/F/G/H/t.log' par=16
row concurrent-replaces LW 'Logs/t.log=old' 's{i},Logs/,t.log' '!one_of Logs/t.log && only Logs t.log' par=16
# Windows drives and code pages.
row any-script-and-emoji W 'Журнал-日志-😀.log=данные' 'Журнал-日志-😀.log,Профиль/文件夹/📁/,имя-名前-🎉.log' \
    'Журнал-日志-😀.log=данные;Профиль/;Профиль/文件夹/;Профиль/文件夹/📁/;Профиль/文件夹/📁/имя-名前-🎉.log=данные'
row lone-surrogate-not-copied W 'b�.log=other' 'b\uD800.log,Logs/,a.log' 'Logs/;b�.log=other'
# In the system's own code page (1252 here): names it cannot hold are read through the wide names.
row legacy-code-page-any-name W 'ā.log=new;Logs/ā.log=old' '"{R}\..\legacy.exe" ā.log,Logs\,ā.log' 'Logs/;Logs/ā.log=new;ā.log=new' cmd \
    'setup=sed s/activeCodePage/activeCodePagX/g "$program" >../legacy.exe'
# What CopyFileA does not write over stays as it is (Wine shows dot files as hidden).
row read-only-target-kept W 'a.log=new;Logs/a.log=old#444' 'a.log,Logs/,a.log' 'Logs/;Logs/a.log=old#444;a.log=new'
row hidden-target-kept W 'a.log=new;Logs/.a.log=old' 'a.log,Logs/,.a.log' 'Logs/;Logs/.a.log=old;a.log=new'
# Links, special files and odd names.
row link-at-target-replaced LW 'a.log=new;other=keep;Logs/a.log->../other' 'a.log,Logs/,a.log' 'Logs/;Logs/a.log=new;a.log=new;other=keep'
row source-link-to-target L 'Logs/#555;Logs/a.log=old;link->Logs/a.log' 'link,Logs/,a.log' 'Logs/;Logs/a.log=old;link->Logs/a.log' user
row source-hard-link-to-target L 'Logs/#555;Logs/a.log=old;h=>Logs/a.log' 'h,Logs/,a.log' 'Logs/;Logs/a.log=old;h=old' user
row fifo-source-never-opened L 'Logs/;p|fifo' 'p,Logs/,a.log' '!sleep 0.2; absent released; r=$?; : <>p; exit $r' 'setup=(exec 3>p; touch released) &'
row device-source-refused L 'Logs/' '/dev/zero,Logs/,a.log' 'Logs/'
row proc-file-read-to-end L 'Logs/s=old' '/proc/self/status,Logs/,s' '!head -1 Logs/s | grep -q ^Name: && is NULs 0 "$(tr -cd "\0" <Logs/s | wc -c)"'
row lease-waited-for L 'a.log=x' 'a.log,Logs/,a.log' '!holds Logs/a.log ready' 'setup=lease a.log'
row fifo-target-kept L 'a.log=new;Logs/p|fifo' 'a.log,Logs/,p' 'Logs/;Logs/p|fifo;a.log=new'
row device-target-kept L 'a.log=new;Logs/' 'a.log,Logs/,n' '![ -c Logs/n ]' root 'setup=mknod Logs/n c 1 3'
row own-link-followed-as-user L 'a.log=new;real/;Logs->real' 'a.log,Logs/Sub/,a.log' 'Logs->real;a.log=new;real/;real/Sub/;real/Sub/a.log=new' user
row user-namespace-trusts-overflow-uid L 'Logs/' '/bin/true,Logs/,t' '!same /bin/true Logs/t' user 'prefix=unshare -r'
# Root's own link in a user's folder is the user's to move: not followed, for the target or the source.
row moved-root-link-stops-source L 'secret/s=top#600;home/%65534;home/app->../secret' 'home/app/s,,a.log' 'home/;home/app->../secret;secret/;secret/s=top' root
row linked-root-file-not-shared L 'a=new#600;s=x;t/#1777;t/l=>s' 'a,t/,l' '!holds t/l new && ! $nobody cat t/l' root 'setup=setfacl -m u:65534:rw s'
row renamed-root-file-not-shared L 'a=new#600;g/#775;g/t=old#644' 'a,g/,t' '!holds g/t new && bits g/t 600' root 'setup=chgrp 50 g'
row renamed-root-file-not-written L 'a=new#600;m/g/#775;m/g/t=old#644' 'a,m/g/,t' '!holds m/g/t old' root tmpfs=m:1M,nr_inodes=3 'setup=chgrp 50 m/g'
row bytes-never-decoded L $'\xff\xfe a"b\nc.log=new' $'\xff\xfe a"b\nc.log,L\x80gs/,\xff\n.log' $'L\x80gs/;L\x80gs/\xff\n.log=new;\xff\xfe a"b\nc.log=new'
# Without /proc (a chroot, a minimal container): links, attributes and ACL as with it.
row noproc-link-xattr-acl L 'a.log=new;s->a.log;Logs/a.log=old' 's,Logs/,a.log' \
    '!holds Logs/a.log new && getfattr -n user.k Logs/a.log >/dev/null && grants Logs/a.log ""' root noproc \
    'setup=setfattr -n user.k -v 1 Logs/a.log && setfacl -dm u:65534:rw Logs'
row noproc-as-user L 'a.log=new;Logs/a.log=old' 'a.log,Logs/,a.log' 'Logs/;Logs/a.log=new;a.log=new' root noproc user
row noproc-unreadable-folder-owner-only L 'a.log=new#644;Logs/#333' 'a.log,Logs/,a.log' '!bits Logs/a.log 600' root noproc user \
    'setup=setfacl -dm u::rw,g::-,o::- Logs'
row unreadable-own-target-keeps-acl L 'a.log=newer;Logs/a.log=old#260' 'a.log,Logs/,a.log' \
    '!is size 5 "$(stat -c %s Logs/a.log)" && bits Logs/a.log 260 && grants Logs/a.log user:1234:r--' user 'setup=setfacl -m u:1234:r Logs/a.log'
row noproc-unreadable-old-target L 'a.log=new;Logs/a.log=old#260' 'a.log,Logs/,a.log' '!holds Logs/a.log new && bits Logs/a.log 200 && grants Logs/a.log ""' \
    root noproc user 'setup=setfacl -dm u:0:rw Logs'
# Windows: the copy takes the target's place in one rename, and nothing else is touched.
row link-source-to-target-name W 'Logs/a.log=old;Logs/l->a.log' 'Logs/a.log,Logs/,l' 'Logs/;Logs/a.log=old;Logs/l=old'
row held-open-target W 'a=@64M;Logs/a=old' 'a,Logs/,a' '!same a Logs/a && { [ -z "$posix" ] || [ "$(stat -c %i Logs/a)" != "$(cat ../ino)" ]; }' \
    'hold=Logs\a|0|7' 'setup=stat -c %i Logs/a >../ino'
row held-target-waited W 'a.log=new;Logs/a.log=old' 'a.log,Logs/,a.log' '!holds Logs/a.log new && holds old old' 'hold=Logs\a*|1000|1' 'setup=ln Logs/a.log old'
row mapped-target-whole W 'a.log=NEW;Logs/#555;Logs/a.log=OLD-OLD-OLD-OLD-OLD' 'a.log,Logs/,a.log' '!holds Logs/a.log OLD-OLD-OLD-OLD-OLD' user \
    'hold=Logs\a.log|2000|15'
# Regression guards that only reading checks: under Wine a handle's ReOpenFile, rename and delete act on
# whatever now carries the file's name, not on the file held, so these pass there without showing the defence.
row planted-second-name W 'a.log=@64M;secret=keep;Logs/' 'a.log,Logs/,a.log' '!rm -f Logs/~tarvik-*-1.tmp && same a.log Logs/a.log && holds secret keep' \
    'during=for _ in {1..500}; do t=(Logs/~tarvik-*-0.tmp) && [ -e "$t" ] && ln -s ../secret "${t%0.tmp}1.tmp" && exit; sleep 0.01; done; false'
row own-copy-held-to-end W 'a.log=@64M;Logs/a.log=old' 'a.log,Logs/,a.log' '!holds Logs/a.log old || same a.log Logs/a.log' 'hold=Logs\~tarvik-*|0'
row own-copy-read-shared-during-copy W 'a.log=@256M;Logs/' 'a.log,Logs/,a.log' '!same a.log Logs/a.log' 'hold=Logs\~tarvik-*|0|3'
row own-name-swapped W 'a.log=@64M;Logs/a.log=old' 'a.log,Logs/,a.log' '!rm -f Logs/~tarvik-*; holds Logs/a.log old || same a.log Logs/a.log' \
    'during=for _ in {1..500}; do t=(Logs/~tarvik-*-0.tmp) && [ -e "$t" ] && mv "$t" ../moved && echo planted >"$t" && exit; sleep 0.01; done; false'
# Windows: a log still open for writing, busy own files, in-place turns and neighbours' files.
# Runs that write in place are slowed at each write to the target (strace), so that all eight meet there.
row live-log-replaced W 'a.log=;Logs/a.log=old' 'a.log,Logs/,a.log' '!holds Logs/a.log early && holds a.log "$(printf "early\nlate")"' log=a.log
row in-place-runs-take-turns W 'Logs/#555;Logs/t.log=old' 's{i},Logs/,t.log' '!one_of Logs/t.log' user par=8 \
    'setup=for i in {0..7}; do yes $i | head -c $((i * 65536 + 9)) >s$i; done' \
    'strace=--seccomp-bpf -e trace=write,pwrite64 -e inject=write,pwrite64:delay_enter=60000 --quiet=all -P Logs/t.log'
row mount-point-not-in-place W 'a.log=new;Logs/a.log=old;b=old' 'a.log,Logs/,a.log' '!holds Logs/a.log old' root 'setup=mount --bind b Logs/a.log'
row read-only-source-renamed W 'a.log=new#444;Logs/a.log=old' 'a.log,Logs/,a.log' '!holds Logs/a.log new && [ "$(stat -c %i Logs/a.log)" != "$(cat ../ino)" ]' \
    user 'setup=stat -c %i Logs/a.log >../ino'
row mixed-separators W 'a.log=new' '"{P}" a.log,Logs/A\B/,a.log' 'Logs/;Logs/A/;Logs/A/B/;Logs/A/B/a.log=new;a.log=new' cmd
long=$(rep 30 abcdefghij/)a.log
row beyond-260-characters W "$long=new" "$long,$(rep 30 klmnopqrst/),a.log" "!holds $(rep 30 klmnopqrst/)a.log new"
row blank-ended-level W 'a.log=new' 'a.log,Logs /Sub/,a.log' 'Logs /;Logs /Sub/;Logs /Sub/a.log=new;a.log=new'
# Every failure point (TARVIK_SWEEP=1): the target old or new whole (in place, partial only where a
# write failed), the old one where the copy's flush fails, nothing beside, and no waiting. The new
# target's source lies beyond 260 characters, so that the run reads it itself, where the replace
# and the live log go through CopyFileA (as on Windows: its writer shares reading). And one
# point picked: every pid's first own name planted, the run's (its second CreateFileW, after the
# target's) answering access denied, as Windows answers for a file marked for deletion but still
# held; the name stands, so the next one takes the copy, not the target in place.
sweep new-target W 100 "$long=@100000;Logs/" "$long,Logs/,a.log" Logs/a.log ''
sweep replace W 75 'a.log=@100000;Logs/a.log=old' 'a.log,Logs/,a.log' Logs/a.log ''
sweep live-log W 72 'a.log=;Logs/a.log=old' 'a.log,Logs/,a.log' Logs/a.log '' log=a.log
sweep in-place W 74 'a.log=@100000;Logs/#555;Logs/a.log=old' 'a.log,Logs/,a.log' Logs/a.log 'ReadFile|WriteFile|SetEndOfFile' user
row sweep-taken-names-stepped-past W 'a.log=new;Logs/' 'a.log,Logs/,a.log' \
    '!holds Logs/a.log new && n=$(ls Logs | wc -l) && rm Logs/~* && is "files beside" 16385 "$n"' sweep 'point=CreateFileW 2 5 once' \
    'setup=touch Logs/~tarvik-{4..65536..4}-0.tmp'
row sweep-folder-without-modify W 'a.log=@100000;Logs/' 'a.log,Logs/,a.log' '!same a.log Logs/a.log' sweep 'point=ReOpenFile 3 5 on'
row sweep-renamed-mid-copy W 'a.log=new;secret=keep;Logs/' 'a.log,Logs/,a.log' '!holds secret keep && holds Logs/a.log new' sweep 'point=CopyFileA 1 0 plant'
# Refusals without privileges.
row writable-target-in-place LW 'a.log=new;Logs/#555;Logs/a.log=old' 'a.log,Logs/,a.log' 'Logs/;Logs/a.log=new;a.log=new' user
row hard-linked-target-not-in-place W 'a.log=new;Logs/#555;Logs/a.log=old;h=>Logs/a.log' 'a.log,Logs/,a.log' '!holds h old && holds Logs/a.log old' user
row read-only-folder-and-target LW 'a.log=new;Logs/#555;Logs/a.log=old#444' 'a.log,Logs/,a.log' 'Logs/#555;Logs/a.log=old#444;a.log=new' user
row unreadable-source LW 'a.log=new#000;Logs/a.log=old' 'a.log,Logs/,a.log' '!holds Logs/a.log old && within 5' user
row folder-denies-search LW 'a.log=new;Logs/#666;Logs/a.log=old' 'a.log,Logs/Sub/,a.log' 'Logs/#666;Logs/a.log=old;a.log=new' user
row read-only-target-replaced L 'a.log=new;Logs/;Logs/a.log=old#444' 'a.log,Logs/,a.log' 'Logs/;Logs/a.log=new#444;a.log=new' user
# In place where the rename is refused (a bind-mounted file) or no inode is left; a write in place waits for the lock.
row bind-mounted-target-loses-exec-labels L 'a.log=new;Logs/a.log=old;b=old' 'a.log,Logs/,a.log' \
    '!holds b new && is "security attributes" "" "$(getfattr -dm security b)"' root \
    'setup=setfattr -n security.SMACK64EXEC -v x b && setfattr -n security.ima -v 0x01 b && mount --bind b Logs/a.log'
row no-inode-left L 'a.log=new;small/Logs/a.log=old' 'a.log,small/Logs/,a.log' '!holds small/Logs/a.log new' root tmpfs=small:1M,nr_inodes=3
row in-place-waits-for-lock L 'a.log=new;Logs/#555;Logs/t.log=old' 'a.log,Logs/,t.log' '!holds mid old && holds Logs/t.log new' user \
    'setup=flock Logs/t.log sh -c "touch ../held; sleep 2" & until [ -e ../held ]; do sleep 0.05; done' 'during=opened_by_run Logs/t.log && cp Logs/t.log mid'
# Faults: the target is the old file or the new copy, whole, and nothing else.
row in-place-copies-length-examined L 'a.log=@1M;fs/Logs/a.log=old' 'a.log,fs/Logs/,a.log' '!is size 1048576 "$(stat -c %s fs/Logs/a.log)"' root ext4=fs \
    'setup=chattr +i fs/Logs' slow=copy_file_range:1000 'during=sleep 0.5; printf late >>a.log'
row in-place-within-size-limit L 'a.log=@1M;fs/Logs/a.log=old' 'a.log,fs/Logs/,a.log' '!holds fs/Logs/a.log old' root ext4=fs fsize=65536 \
    'setup=chattr +i fs/Logs'
row in-place-size-limit-no-inode L 'a.log=@1M;fs/Logs/a.log=old' 'a.log,fs/Logs/,a.log' '!holds fs/Logs/a.log old' root ext4=fs fsize=65536 \
    'setup=mkdir fs/u && chown 65534 fs/u && $nobody sh -c "cd fs/u && seq 9000 | xargs touch" 2>/dev/null; :'
row file-size-limit L 'a.log=@1M;Logs/a.log=old' 'a.log,Logs/,a.log' '!holds Logs/a.log old && only Logs a.log' fsize=65536
row disk-full LW 'a.log=@4M;small/a.log=old' 'a.log,small/,a.log' '!holds small/a.log old && only small a.log' root tmpfs=small:1M
row dense-past-4-gib-whole L 'big/s=@4294967301' 'big/s,big/Logs/,s' '!same big/s big/Logs/s' root tmpfs=big:9G room=10
row large-sparse-whole L 'big=~4100M' 'big,Logs/,big' '![ $(($(stat -c %b*%B Logs/big))) -lt 99999999 ] && cmp -n 1M big Logs/big && cmp -i 4096M big Logs/big'
row source-cut-mid-copy L 'a.log=@7M;Logs/a.log=good' 'a.log,Logs/,a.log' '!holds Logs/a.log 0123456789abcdef' slow=copy_file_range:1500 \
    'during=sleep 0.5; : >a.log; printf 0123456789abcdef >>a.log'
row keeping-refused-still-copies L 'a.log=new;Logs/a.log=old' 'a.log,Logs/,a.log' 'Logs/;Logs/a.log=new;a.log=new' \
    'strace=-e inject=fchmod,fchown,utimensat,fsetxattr,fremovexattr:error=EPERM'
row killed-mid-copy L 'a.log=@256M;Logs/a.log=old' 'a.log,Logs/,a.log' '!grep -qx old Logs/a.log || same a.log Logs/a.log' kill=20
# Short of descriptors at each step: the target untouched, or the copy whole with all it promises.
row few-descriptors-replace L '' 's{i},,t{i}' '!every "holds t{i} old || same s{i} t{i} && dressed t{i}" && same s4 t4' par=5 nofile=4 'setup=dress t{0..4}'
row few-descriptors-new L '' 's{i},,t{i}' '!every "absent t{i} || { same s{i} t{i} && bits t{i} 640; }" && same s4 t4' par=5 nofile=4 umask=027
# In place only where the copy fits (what else it needs: trust_adversary.py).
row in-place-reserves-room L 'a.log=@2M;small/Logs/a.log=old' 'a.log,small/Logs/,a.log' '!holds small/Logs/a.log old' root tmpfs=small:1M,nr_inodes=4 \
    'setup=cat /dev/zero >small/fill 2>/dev/null; :'
# What a new target and a replaced one keep.
row new-target-bits-from-source L 'a.log=new#606;Logs/' 'a.log,Logs/,a.log' '!bits Logs/a.log 604' umask=022
row new-target-default-acl L 'a.log=new#666;Logs/' 'a.log,Logs/,a.log' '!bits Logs/a.log 664 && grants Logs/a.log user:65534:rw-' \
    'setup=setfacl -dm u:65534:rw Logs'
# The chain under a user's odd umask, and under a root run's loose one.
row chain-under-umask-0277 L 'a.log=new' 'a.log,Logs/A/,a.log' '!bits Logs 700 && bits Logs/A 700 && bits Logs/A/a.log 400' umask=0277
row root-chain-under-umask-000 L 'a.log=new' 'a.log,Logs/A/,a.log' '!bits Logs 775 && bits Logs/A 775' root umask=000
# A power cut right after the run keeps the copy: a new target, and a replaced one without ext4's own flush on rename.
row power-cut-new-target L 'a.log=@64K;fs/Logs/' 'a.log,fs/Logs/,a.log' '!crash fs && same a.log fs/Logs/a.log' root ext4=fs
row power-cut-replaced L 'a.log=@64K;fs/Logs/a.log=old' 'a.log,fs/Logs/,a.log' '!crash fs && same a.log fs/Logs/a.log' root ext4=fs:noauto_da_alloc 'setup=sync'
# Every failure point of a replacement, a new chain, a copy without unnamed files and a write in place.
sweep replace L 360 'a.log=@70000;Logs/a.log=old' 'a.log,Logs/,a.log' Logs/a.log ''
sweep new-chain L 500 'a.log=@70000' 'a.log,Logs/A/B/,a.log' Logs/A/B/a.log ''
sweep walk L 450 'a.log=@70000;Logs/a.log=old' 'a.log,Logs/,a.log' Logs/a.log '' noopenat2
sweep named L 350 'a.log=@70000;Logs/a.log=old' 'a.log,Logs/,a.log' Logs/a.log '' notmpfile
sweep in-place L 290 'a.log=@70000;Logs/#555;Logs/a.log=old' 'a.log,Logs/,a.log' Logs/a.log 'p?write(64)?|p?read(64)?|copy_file_range' user
# Bytes appended to a source that ends in a hole, just as the copy reaches that hole.
row append-at-trailing-hole L 's=head' 's,Logs/,s' '!tail -c 4 Logs/s | grep -qx tail' 'setup=truncate -s 1M s' slow=lseek,_llseek:1000:4 \
    'during=sleep 0.5; printf tail >>s'
# Argument texts at the host's limits, and at random.
row longest-argument LW 'a.log=new' "a.log,x/,$(rep "$([ "$host" = L ] && echo 131000 || echo 32000)" n)" 'a.log=new;x/'
row separators-and-commas L 'a.log=new' "a.log,$(rep 10000 ///),a.log$(rep 10000 ,,,)" 'a.log=new'
row deep-chain-linear-memory W 'a.log=new' "Q:/a.log,Q:$(rep 16000 /a),a.log" '!only . a.log && p=$(cat ../peak) && [ "$p" -gt 0 ] && [ "$p" -lt 65536 ]' \
    'during=peak_kib "Tarvik.exe Q:" >../peak'
row beyond-path-limit L 'a.log=new' "a.log,$(rep 2047 d/)e/f/,a" '!absent d'
row at-path-limit L 'a.log=new' "a.log,$(rep 2047 d/),a" "!test -d $(rep 2047 d/)"
# Each random text against a model of its own: split at every comma, the chain, the copy.
RANDOM=20261207 pieces=(a b/ c, 'd\' é ',,' x/y/ ' ' '"' '*') # none leaves the row's folder
for ((t = 0; t < $([ "$host" = L ] && echo 200 || echo 50); t++)); do
    # Windows takes "\" as a separator too, and no name of its ends in a blank or holds '"' or '*'.
    text= n=${#pieces[@]} && [ "$host" = W ] && n=7
    for ((p = RANDOM % 24; p > 0; p--)); do text+=${pieces[RANDOM % n]}; done
    ((t % 2)) && text="a,$text,log" # half of them copy, where the pieces leave the fields in place
    row "random-$t" LW 'a=x;b/' "$text" "$(model "$text")"
done
# The table itself: a misspelt or unknown option, options that cannot go together, a sweep short of its floor.
row misspelt-option-refused L 'a.log=new' 'a.log,Logs/,a.log' 'Logs/;Logs/a.log=new;a.log=new' refused nedes=bindfs
row kill-beside-strace-refused L 'a.log=new' 'a.log,Logs/,a.log' '!:' refused kill=1 strace=-qq
sweep short-of-floor L 99 'a.log=new' 'a.log' a.log '' refused
