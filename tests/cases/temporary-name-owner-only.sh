# The new file is its owner's alone until it is whole, also under a
# temporary name (no unnamed files), whatever a default ACL would grant:
# while the mode is set, and while the copy is slowed and then cut short.
row temporary-name-acl-after-mode L 'a.log=new#600;Logs/' 'a.log,Logs/,a.log' '!absent ../leak && holds Logs/a.log new' root notmpfile \
    'strace=-e inject=fchmod:delay_enter=1000000' 'setup=setfacl -dm u:65534:rw Logs' \
    'during=sleep 0.5; $nobody sh -c "cat Logs/.tarvik-*" >/dev/null 2>&1 && touch ../leak; :'
row temporary-name-owner-only L 'a.log=@1M#600;Logs/a.log=old#640' 'a.log,Logs/,a.log' '!absent ../leak && holds Logs/a.log old' root \
    notmpfile fsize=65536 'strace=-e inject=copy_file_range:delay_enter=1500000:when=1' 'setup=setfacl -dm u:65534:rw Logs' \
    'during=sleep 0.3; ls Logs/.tarvik-* >/dev/null && { $nobody sh -c "cat Logs/.tarvik-* 2>/dev/null" && touch ../leak; :; }'
