# A path through /proc/PID/root enters a chroot's view: its links, absolute
# or climbing past its top, lead to folders inside that view, never to the host's.
row container-links-stay-inside L 'secret/' 's{i},c/{i}/,t{i}' \
    '!absent secret/t0 && absent secret/t1 && same s0 "box$PWD/secret/t0" && same s1 "box$PWD/secret/t1"' root par=2 \
    'setup=mkdir -p "box$PWD/secret" && ln -s "$PWD/secret" box/0 && ln -s "../../../../../../../../../..$PWD/secret" box/1 &&
    behind perl -e "chroot q(box) and chdir q(/) and sleep 30" && sleep 0.3 && ln -s /proc/$(cat ../pid)/root c'
