# A replaced file keeps its owner, group, mode and ACL, but not the rights
# to run as someone else: no set-id bits, file capabilities or SMACK exec label.
row replaced-keeps-group-acl-not-exec-rights L 'a.log=new;Logs/a.log=old#6750' 'a.log,Logs/,a.log' \
    '!holds Logs/a.log new && is "owner.mode" 65534:1234.750 "$(stat -c %u:%g.%a Logs/a.log)" &&
    grants Logs/a.log user:1234:r-- && is "security attributes" "" "$(getfattr -dm security Logs/a.log)"' root \
    'setup=chown 65534:1234 Logs/a.log && setfacl -m u:1234:r Logs/a.log && setfattr -n security.SMACK64EXEC -v x Logs/a.log &&
    setfattr -n security.capability -v 0x0100000200200000000000000000000000000000 Logs/a.log'
