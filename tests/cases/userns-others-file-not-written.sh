# Under unshare -r another user's file shows as the overflow uid; in a
# sticky folder it is theirs, and is neither replaced nor written into.
row userns-others-file-not-written L 'a.log=new' 'a.log,{R}/../ns-tmp/,t.log' '!holds ../ns-tmp/t.log theirs' root user 'prefix=unshare -r' \
    'setup=mkdir -m 1777 ../ns-tmp && printf theirs >../ns-tmp/t.log && chmod 666 ../ns-tmp/t.log && chown 1234 ../ns-tmp/t.log'
