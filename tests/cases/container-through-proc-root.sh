# A path through another mount namespace's /proc/PID/root sees that
# namespace's files (a tmpfs over box), as the kernel resolves it.
row container-through-proc-root L 'box/s=outside' 'c{R}/box/s,c{R}/box/,t' '!holds "c$PWD/box/t" inside && absent box/t' root \
    'setup=behind unshare -m --propagation private sh -c "mount -t tmpfs t box && echo inside >box/s && exec sleep 30" &&
    ln -s /proc/$(cat ../pid)/root c; sleep 0.5'
