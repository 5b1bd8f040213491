# A user's own FUSE mount (bindfs showing root as every file's owner) whose
# name forges its maker: made from a folder "s,user_id=0" and named
# "a\,user_id=0", so the mount's source field reads as root's option. It
# vouches for no owner: root's run does not follow its link into a root-only folder.
row fuse-mount-vouches-for-none L 'a.log=new;secret/#700;src/app->../secret;mnt/' '{R}/a.log,{R}/mnt/app/logs/,a.log' \
    '!absent secret/logs; r=$?; nsenter --mount=../ns umount "$PWD/mnt"; exit $r' root needs=bindfs 'prefix=nsenter --mount=../ns' \
    'setup=echo user_allow_other >../fuse.conf && mknod -m 666 ../fuse c 10 229 && chown -hR 65534 src mnt && mv src s,user_id=0 &&
    behind unshare -m --propagation private sh -c "mount --bind ../fuse.conf /etc/fuse.conf && mount --bind ../fuse /dev/fuse &&
        $nobody bindfs -o allow_other,fsname=a\\\\,user_id=0 --force-user=root --force-group=root s,user_id=0 mnt && exec sleep 30" &&
    sleep 0.5 && ln -sf /proc/$(cat ../pid)/ns/mnt ../ns && nsenter --mount=../ns test -L "$PWD/mnt/app"'
