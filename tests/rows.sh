# The rows of the run table (tests/run_table.sh): hosts, tree before, argument
# text, tree after or check, options. Runs happen in the row's folder.
# shellcheck disable=SC2016,SC2034
# Splitting and joining.
row LW 'a.log=new' 'a.log,Logs,b.log,extra' 'Logs/;Logsb.log=new;a.log=new'
row L 'a.log=new' 'a.log, "Logs"/,"b".log' ' "Logs"/; "Logs"/"b".log=new;a.log=new'
row LW 'a,b.log=x' 'a,b.log,Logs/,c.log' 'a,b.log=x;b.log/'
row LW 'a.log=new' 'a.log,Logs/A/' 'Logs/;Logs/A/;a.log=new'
row L 'a.log=new' 'a.log,|Logs/,b|c.log' ' Logs/; Logs/b c.log=new;a.log=new' split
row W 'a.log=new' '"{P}"  	 a.log,Logs\,a.log' 'Logs/;Logs/a.log=new;a.log=new' cmd
row W 'a.log=new' '{P} a.log,Logs\,a.log' 'Logs/;Logs/a.log=new;a.log=new' cmd
row W 'a.log=new' '"{P}"a.log,Logs\,b c.log' 'Logs/;Logs/b c.log=new;a.log=new' cmd
row W 'a.log=new' '{R}\My App\TARVIK.exe  a.log,Logs\,a.log' '!cmp -s a.log Logs/a.log' cmd 'app={R}\My App\Tarvik.exe' 'setup=mkdir "My App" && cp "$program" "My App"'
row W '' '"{R}\Example-1.0.exe" /S /D={R}\App' '!grep -q "Installation complete" App/Logs/Setup/setup.log' cmd 'setup=cp "$tests/../examples/install-log.nsi" "$program" . && makensis -V2 install-log.nsi >/dev/null'
# The folder chain and the copy.
row LW 'a.log=new;Logs/;Logs/a.log=old old old' 'a.log,Logs/A/B/C/,a.log' 'Logs/;Logs/A/;Logs/A/B/;Logs/A/B/C/;Logs/A/B/C/a.log=new;Logs/a.log=old old old;a.log=new'
row LW 'a.log=new;Logs/;Logs/a.log=old old old' 'a.log,Logs/,a.log' 'Logs/;Logs/a.log=new;a.log=new'
row LW 'a.log=;Logs/;Logs/a.log=old' 'a.log,Logs/,a.log' 'Logs/;Logs/a.log=;a.log='
row LW 'a.log=new;Logs=file' 'a.log,Logs/,a.log' 'Logs=file;a.log=new'
row LW 'a.log=new;Logs/' 'a.log,Logs/,' 'Logs/;a.log=new'
row LW 'src/' 'src,Logs/,a.log' 'Logs/;src/'
row LW 'a.log=new;Logs/a.log/' 'a.log,Logs/,a.log' 'Logs/;Logs/a.log/;a.log=new'
row LW 'Logs/a.log=old' 'Logs/a.log,Logs/,a.log' 'Logs/;Logs/a.log=old'
row LW 'a.log=new' '{R}//a.log,{R}/Abs//X//,b.log' 'Abs/;Abs/X/;Abs/X/b.log=new;a.log=new'
row LW '' 's{i},A/B/C/D/E/F/G/H/,t.log' '!one_of A/B/C/D/E/F/G/H/t.log' par=16
row LW 'Logs/t.log=old' 's{i},Logs/,t.log' '!one_of Logs/t.log && [ "$(ls -A Logs)" = t.log ]' par=16
# Windows drives and code pages.
row W 'a.log=new;Logs/;Logs/a.log=old' 'a.log,Logs/,ā.log' 'Logs/;Logs/a.log=old;Logs/ā.log=new;a.log=new'
row W 'Журнал-日志-😀.log=данные' 'Журнал-日志-😀.log,Профиль/文件夹/📁/,имя-名前-🎉.log' 'Журнал-日志-😀.log=данные;Профиль/;Профиль/文件夹/;Профиль/文件夹/📁/;Профиль/文件夹/📁/имя-名前-🎉.log=данные'
row W 'b�.log=other' 'b\uD800.log,Logs/,a.log' 'Logs/;b�.log=other'
# In the system's own code page (1252 here): a copy whose UTF-8 entry is renamed away.
row W 'a.log=new;Logs/a.log=old' '"{R}\..\legacy.exe" a.log,Logs\,ā.log' 'Logs/;Logs/a.log=old;a.log=new' cmd 'setup=sed s/activeCodePage/activeCodePagX/g "$program" >../legacy.exe'
# What CopyFileA does not write over stays as it is (Wine shows dot files as hidden).
row W 'a.log=new;Logs/a.log=old#444' 'a.log,Logs/,a.log' 'Logs/;Logs/a.log=old;a.log=new'
row W 'a.log=new;Logs/.a.log=old' 'a.log,Logs/,.a.log' 'Logs/;Logs/.a.log=old;a.log=new'
# Links, special files and odd names.
row LW 'a.log=new;other=keep;Logs/a.log->../other' 'a.log,Logs/,a.log' 'Logs/;Logs/a.log=new;a.log=new;other=keep'
row L 'a.log=new;real/;Logs->real' 'a.log,Logs/Sub/,a.log' 'Logs->real;a.log=new;real/;real/Sub/;real/Sub/a.log=new'
row L 'a.log=new;Logs->gone' 'a.log,Logs/Sub/,a.log' 'Logs->gone;a.log=new'
row L 'Logs/#555;Logs/a.log=old;link->Logs/a.log' 'link,Logs/,a.log' 'Logs/;Logs/a.log=old;link->Logs/a.log' user
row L 'Logs/#555;Logs/a.log=old;h=>Logs/a.log' 'h,Logs/,a.log' 'Logs/;Logs/a.log=old;h=old' user
row L 'Logs/' '/dev/zero,Logs/,a.log' 'Logs/'
row L 'Logs/s=old' '/proc/self/status,Logs/,s' '!head -1 Logs/s | grep -q ^Name: && [ "$(tr -d "\0" <Logs/s | wc -c)" = "$(stat -c %s Logs/s)" ]'
row L 'a.log=x' 'a.log,Logs/,a.log' '!grep -qx ready Logs/a.log' 'setup=lease a.log'
row L 'a.log=new;D/;Logs/t->../D' 'a.log,Logs/,t' 'D/;Logs/;Logs/t->../D;a.log=new'
row L 'a.log=new;Logs/p|fifo' 'a.log,Logs/,p' 'Logs/;Logs/p|fifo;a.log=new'
row L 'a.log=new;Logs/' 'a.log,Logs/,n' '![ -c Logs/n ]' root 'setup=mknod Logs/n c 1 3'
row L 'a.log=new;real/;Logs->real' 'a.log,Logs/Sub/,a.log' 'Logs->real;a.log=new;real/;real/Sub/;real/Sub/a.log=new' user
row L 'a.log=new;secret/#700;home/app->../secret' 'a.log,home/app/logs/,a.log' '!! [ -e secret/logs ]' root 'setup=chown -h 65534 home/app'
row L 'a.log=new;secret/logs/a.log=old;home/app->../secret' 'a.log,home/app/logs/,a.log' '!grep -qx old secret/logs/a.log' root 'setup=chown -h 65534 home/app'
# Root's own link in a user's folder is the user's to move: not followed, for the target or the source.
row L 'a.log=new;secret/#700;home/app->../secret' 'a.log,home/app/logs/,a.log' '!! [ -e secret/logs ]' root 'setup=chown 65534 home'
row L 'secret/s=top#600;home/app->../secret' 'home/app/s,,a.log' 'home/;home/app->../secret;secret/;secret/s=top' root 'setup=chown 65534 home'
row L 'a.log=new;home/app/;home/app/cur->.' 'a.log,home/app/cur/logs/,a.log' '!grep -qx new home/app/logs/a.log' root 'setup=chown 65534 home'
row L 'a.log=new#600;Logs/a.log=old#664' 'a.log,Logs/,a.log' '!grep -qx new Logs/a.log && [ "$(stat -c "%u %a" Logs/a.log)" = "65534 664" ]' root 'setup=chown 65534 Logs/a.log'
row L $'\xff\xfe a"b\nc.log=new' $'\xff\xfe a"b\nc.log,L\x80gs/,\xff\n.log' $'L\x80gs/;L\x80gs/\xff\n.log=new;\xff\xfe a"b\nc.log=new'
# Without /proc (a chroot, a minimal container): links, attributes and ACL as with it.
row L 'a.log=new;s->a.log;Logs/a.log=old' 's,Logs/,a.log' '!grep -qx new Logs/a.log && getfattr -n user.k Logs/a.log >/dev/null && [ -z "$(getfacl -s Logs/a.log)" ]' root noproc 'setup=setfattr -n user.k -v 1 Logs/a.log && setfacl -dm u:65534:rw Logs'
row L 'a.log=new;Logs/a.log=old' 'a.log,Logs/,a.log' 'Logs/;Logs/a.log=new;a.log=new' root noproc user
row L 'a.log=new;Logs/a.log=old#260' 'a.log,Logs/,a.log' '!grep -qx new Logs/a.log && [ "$(stat -c %a Logs/a.log)" = 600 ] && [ -z "$(getfacl -s Logs/a.log)" ]' root noproc user 'setup=setfacl -dm u:0:rw Logs'
# Windows: the copy takes the target's place in one rename, and nothing else is touched.
row W 'Logs/a.log=old;Logs/l->a.log' 'Logs/a.log,Logs/,l' 'Logs/;Logs/a.log=old;Logs/l=old'
row W 'a.log=@64M;secret=keep;Logs/' 'a.log,Logs/,a.log' '!rm -f Logs/~tarvik-*-1.tmp && cmp -s a.log Logs/a.log && [ -e secret ]' 'during=for _ in {1..5000}; do t=(Logs/~tarvik-*-0.tmp) && [ -e "$t" ] && ln -s ../secret "${t%0.tmp}1.tmp" && break; done'
row W 'a.log=new;Logs/a.log=old' '{R}/a.log,Logs/,a.log' '!kill $(cat ../strace) && sleep 1 && rm -f Logs/~tarvik-* && [ "$(ls -A Logs)" = a.log ]' kill=1 setup=slow_renames during=kill_in_rename
row W 'a.log=new;Logs/a.log=old' 'a.log,Logs/,a.log' 'Logs/;Logs/a.log=new;a.log=new' 'hold=Logs\a.log'
row W 'a.log=@64M;Logs/a.log=old' 'a.log,Logs/,a.log' '!cmp -s a.log Logs/a.log' 'hold=Logs\~tarvik-*'
row W 'a.log=new#444;Logs/a.log=old' 'a.log,Logs/,a.log' '!grep -qx new Logs/a.log && [ "$(stat -c %i Logs/a.log)" != "$(cat ../ino)" ]' user 'setup=stat -c %i Logs/a.log >../ino'
row W 'a.log=new' '"{P}" a.log,Logs/A/B/,a.log' 'Logs/;Logs/A/;Logs/A/B/;Logs/A/B/a.log=new;a.log=new' cmd
row W 'a.log=new' '"{P}" a.log,Logs/A\B/,a.log' 'Logs/;Logs/A/;Logs/A/B/;Logs/A/B/a.log=new;a.log=new' cmd
row W 'a.log=new' 'a.log,Logs /Sub/,a.log' 'Logs /;Logs /Sub/;Logs /Sub/a.log=new;a.log=new'
# Refusals without privileges.
row LW 'a.log=new;Logs/#555;Logs/a.log=old' 'a.log,Logs/,a.log' 'Logs/;Logs/a.log=new;a.log=new' user
row LW 'a.log=new;Logs/#555;Logs/a.log=old#444' 'a.log,Logs/,a.log' 'Logs/;Logs/a.log=old;a.log=new' user
row LW 'a.log=new#000;Logs/' 'a.log,Logs/,b.log' 'Logs/;a.log=new' user
row LW 'a.log=new;Logs/#666;Logs/a.log=old' 'a.log,Logs/Sub/,a.log' 'Logs/;Logs/a.log=old;a.log=new' user
row L 'a.log=new;Logs/;Logs/a.log=old#444' 'a.log,Logs/,a.log' 'Logs/;Logs/a.log=new;a.log=new' user
# Folders that keep their names (chattr +i, +a): in place without set-id bits, a new target linked straight, no stray name.
row L 'a.log=new;fs/Logs/a.log=old#6755' 'a.log,fs/Logs/,a.log' '!grep -qx new fs/Logs/a.log && [ "$(stat -c %a fs/Logs/a.log)" = 755 ]' root ext4=fs 'setup=chattr +i fs/Logs'
row L 'a.log=new;fs/Logs/a.log=old#4755' 'a.log,fs/Logs/,a.log' '!grep -qx new fs/Logs/a.log && [ "$(stat -c %a fs/Logs/a.log)" = 755 ]' root ext4=fs 'setup=chattr +a fs/Logs'
row L 'a.log=new;fs/Logs/a.log=old' 'a.log,fs/Logs/,b.log' '!grep -qx new fs/Logs/b.log' root ext4=fs 'setup=chattr +a fs/Logs'
# In place where the rename is refused (a bind-mounted file) or no inode is left; a write in place waits for the lock.
row L 'a.log=new;Logs/a.log=old;b=old' 'a.log,Logs/,a.log' '!grep -qx new Logs/a.log' root 'setup=mount --bind b Logs/a.log'
row L 'a.log=new;small/Logs/a.log=old' 'a.log,small/Logs/,a.log' '!grep -qx new small/Logs/a.log' root tmpfs=small:1M,nr_inodes=3
row L 'a.log=new;Logs/#555;Logs/t.log=old' 'a.log,Logs/,t.log' '!grep -qx old mid && grep -qx new Logs/t.log' user 'setup=flock Logs/t.log sleep 1 & sleep 0.2' 'during=sleep 0.6; cp Logs/t.log mid'
# Faults: the target is the old file or the new copy, whole, and nothing else.
row L 'a.log=@1M;Logs/a.log=old' 'a.log,Logs/,a.log' '!grep -qx old Logs/a.log && [ "$(ls -A Logs)" = a.log ]' fsize=65536
row LW 'a.log=@4M;small/a.log=old' 'a.log,small/,a.log' '!grep -qx old small/a.log && [ "$(ls -A small)" = a.log ]' root tmpfs=small:1M
row L 'big=~4100M' 'big,Logs/,big' '![ $(($(stat -c %b*%B Logs/big))) -lt 99999999 ] && cmp -n 1M big Logs/big && cmp -i 4096M big Logs/big'
row L 'a.log=@7M;Logs/a.log=good' 'a.log,Logs/,a.log' '![ "$(stat -c %s Logs/a.log)" = 16 ] && grep -qx 0123456789abcdef Logs/a.log' 'strace=-e inject=copy_file_range:delay_enter=1500000:when=1' 'during=sleep 0.5; : >a.log; printf 0123456789abcdef >>a.log'
row L 'a.log=new;Logs/a.log=old' 'a.log,Logs/,a.log' 'Logs/;Logs/a.log=new;a.log=new' 'strace=-e inject=fchmod,fchown,utimensat,fsetxattr,fremovexattr:error=EPERM'
row L 'a.log=@256M;Logs/a.log=old' 'a.log,Logs/,a.log' '!grep -qx old Logs/a.log || cmp -s a.log Logs/a.log' kill=20
# In place only where the write reaches the target alone and fits; links in folders others may write; /proc's links.
row L 'a.log=new;small/Logs/a.log=old;small/h=>small/Logs/a.log' 'a.log,small/Logs/,a.log' '!grep -qx old small/h' root tmpfs=small:1M,nr_inodes=4
row L 'a.log=@2M;small/Logs/a.log=old' 'a.log,small/Logs/,a.log' '!grep -qx old small/Logs/a.log' root tmpfs=small:1M,nr_inodes=4 'setup=cat /dev/zero >small/fill 2>/dev/null; :'
row L 'a.log=new#600;b=theirs#666;tmp/#1777;tmp/t.log=' 'a.log,tmp/,t.log' '!grep -qx theirs b' root 'setup=chown 1234 b && mount --bind b tmp/t.log'
row L 'a.log=new;secret/#700;tmp/#1777;tmp/app->../secret' 'a.log,tmp/app/logs/,a.log' '!! [ -e secret/logs ]'
row L 'box/s=outside' 'c{R}/box/s,c{R}/box/,t' '![ "$(cat c$PWD/box/t)" = inside ] && [ ! -e box/t ]; r=$?; kill $(cat ../pid); exit $r' root 'setup=unshare -m --propagation private sh -c "mount -t tmpfs t box && echo inside >box/s && exec sleep 30" & echo $! >../pid; ln -s /proc/$!/root c; sleep 0.5'
row L 'Logs/;p|fifo' 'p,Logs/,a.log' '!sleep 0.2; [ ! -e released ]; r=$?; : <>p; exit $r' 'setup=(exec 3>p; touch released) &'
# The new file is its owner's alone until it is whole, also under a temporary name, which a failed copy removes.
row L 'a.log=@1M#600;Logs/a.log=old#640' 'a.log,Logs/,a.log' '![ ! -e ../leak ] && grep -qx old Logs/a.log' root notmpfile fsize=65536 'strace=-e inject=copy_file_range:delay_enter=1500000:when=1' 'setup=setfacl -dm u:65534:rw Logs' 'during=sleep 0.3; $nobody sh -c "cat Logs/.tarvik-* >/dev/null 2>&1" && touch ../leak'
# What a new target and a replaced one keep.
row L 'a.log=new#606;Logs/' 'a.log,Logs/,a.log' '![ "$(stat -c %a.%Y Logs/a.log)" = 604.1000000000 ]' umask=022 'setup=touch -d @1000000000 a.log'
row L 'a.log=new#666;Logs/' 'a.log,Logs/,a.log' '![ "$(stat -c %a Logs/a.log)" = 664 ] && getfacl -cpEn Logs/a.log | grep -qx user:65534:rw-' 'setup=setfacl -dm u:65534:rw Logs'
row L 'a.log=new;Logs/a.log=old#6750' 'a.log,Logs/,a.log' '!grep -qx new Logs/a.log && [ "$(stat -c %u:%g.%a Logs/a.log)" = 65534:1234.750 ] && getfacl -cpEn Logs/a.log | grep -qx user:1234:r-- && [ -z "$(getfattr -dm security Logs/a.log)" ]' root 'setup=chown 65534:1234 Logs/a.log && setfacl -m u:1234:r Logs/a.log && setfattr -n security.capability -v 0x0100000200200000000000000000000000000000 Logs/a.log && setfattr -n security.SMACK64EXEC -v x Logs/a.log'
# The chain under a user's odd umask, and under a root run's loose one.
row L 'a.log=new' 'a.log,Logs/A/,a.log' '![ "$(stat -c %a Logs Logs/A Logs/A/a.log | tr "\n" " ")" = "700 700 400 " ]' umask=0277
row L 'a.log=new' 'a.log,Logs/A/,a.log' '![ "$(stat -c %a Logs Logs/A | tr "\n" " ")" = "775 775 " ]' root umask=000
# A power cut right after the run keeps the copy: a new target, and a replaced one without ext4's own flush on rename.
row L 'a.log=@64K;fs/Logs/' 'a.log,fs/Logs/,a.log' '!crash fs && cmp -s a.log fs/Logs/a.log' root ext4=fs
row L 'a.log=@64K;fs/Logs/a.log=old' 'a.log,fs/Logs/,a.log' '!crash fs && cmp -s a.log fs/Logs/a.log' root ext4=fs:noauto_da_alloc 'setup=sync'
# Bytes appended to a source that ends in a hole, just as the copy reaches that hole.
row L 's=head' 's,Logs/,s' '!tail -c 4 Logs/s | grep -qx tail' 'setup=truncate -s 1M s' 'strace=-e inject=lseek:delay_enter=1000000:when=4' 'during=sleep 0.5; printf tail >>s'
# Argument texts at the host's limits, and at random.
row LW 'a.log=new' "a.log,x/,$(rep "$([ "$host" = L ] && echo 131000 || echo 32000)" n)" 'a.log=new;x/'
row L 'a.log=new' "a.log,$(rep 10000 ///),a.log$(rep 10000 ,,,)" 'a.log=new'
row W 'a.log=new' "Q:/a.log,Q:$(rep 16000 /a),a.log" '![ "$(ls -A)" = a.log ] && p=$(cat ../peak) && [ "$p" -gt 0 ] && [ "$p" -lt 65536 ]' 'during=peak_kib "Tarvik.exe Q:" >../peak'
row L 'a.log=new' "a.log,$(rep 2047 d/)e/f/,a" '!! [ -e d ]'
row L 'a.log=new' "a.log,$(rep 2047 d/),a" "!test -d $(rep 2047 d/)"
RANDOM=20261207 pieces=(a b/ c, ' ' 'd\' '"' é '*' ',,' 'x/y/') # none leaves the row's folder
for ((t = 0; t < $([ "$host" = L ] && echo 200 || echo 50); t++)); do
    text= && for ((p = RANDOM % 24; p > 0; p--)); do text+=${pieces[RANDOM % 10]}; done
    row LW 'a.log=x;b/' "$text" '!true'
done
