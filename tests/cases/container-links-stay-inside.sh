# A path through /proc/PID/root enters a chroot's view: its links, absolute
# or climbing past its top, lead to folders inside that view, never to the host's.
row container-links-stay-inside L 'secret/' 's{i},c/{i}/,t{i}' '!every "absent secret/t{i}" && inside 0 1' root par=2 'setup=contained "" $(rep 10 ../)'
# Its /proc may show the host's processes too: self there is the process
# entered, and no other process's root leads out of the view.
row container-proc-no-escape L 'secret/' 's{i},c/{i}/,t{i}' '!every "absent secret/t{i}" && inside 0' root par=2 'setup=contained /proc/self/root /proc/$$/root'
