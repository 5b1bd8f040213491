# A namespace whose uid_map maps its own nobody (65534, here host uid
# 100000), as a rootless container's: its file in a sticky folder is not
# root's, and the container root's run leaves it alone.
row userns-own-nobody-not-written L 'a.log=new#600' 'a.log,{R}/../ns-tmp2/,t.log' '!holds ../ns-tmp2/t.log theirs' root user \
    'prefix=nsenter --user=../userns' 'setup=mkdir -m 1777 ../ns-tmp2 && printf theirs >../ns-tmp2/t.log &&
    chmod 666 ../ns-tmp2/t.log && chown 100000 ../ns-tmp2/t.log && behind $nobody unshare -U sleep 30 && sleep 0.3 &&
    printf "0 65534 1\n65534 100000 1\n" | tee /proc/$(cat ../pid)/uid_map >/proc/$(cat ../pid)/gid_map && ln -sf /proc/$(cat ../pid)/ns/user ../userns'
