# The generated adversary of root runs (tests/cases/trust-adversary.sh runs it as root in a row's folder
# that holds the 0600 file s): for each seed a random tree t/ of folders, files, links and hard links of
# root and two users in groups of a small pool, with random modes, sticky and set-group-id bits and ACLs,
# links through /proc, now and then a folder bound onto another or the target's folder made append-only or
# immutable; a root copy of s into a random path through it, now and then inside a user namespace; and
# what must always hold, measured on the tree and as each user, against a model of the rule written
# here, never asked of the program.
import os, random, stat, subprocess, sys

program, T, cwd, USERS, POOL = sys.argv[1], os.path.realpath('t'), os.getcwd(), (1234, 65534), (2001, 2002, 2003)
# Mounts of its own (a tmpfs at t/ a seed, bind mounts) need a mount namespace of the adversary's own.
if not os.environ.get('TARVIK_PRIVATE') and not subprocess.run(['unshare', '-m', '--propagation', 'private', 'true']).returncode:
    os.execvpe('unshare', ['unshare', '-m', '--propagation', 'private', sys.executable, *sys.argv], {**os.environ, 'TARVIK_PRIVATE': '1'})
private, GROUPS, USERNS = os.environ.get('TARVIK_PRIVATE'), {}, ['unshare', '-r'] * (not subprocess.run(['unshare', '-r', 'true']).returncode)
# Links of /proc that the kernel follows to the host's root (here the process root) or to the run's folder.
PROC = {'/proc/self/root': '', f'/proc/{os.getpid()}/root': '', '/proc/self/cwd': cwd}


# The rule: no one but root (the run's user) may change the entries of a folder that root owns and whose
# mode lets no group or other write (an ACL entry that grants write shows in the group bits).
def others_may_write(folder): return os.lstat(folder).st_uid != 0 or os.lstat(folder).st_mode & 0o022 != 0


# Where text leads from the folder here when only the links the rule trusts are followed (root's, in a
# folder no one else may change): the real folder and the names past it still to be made, or None
# where the way stops (a link not trusted, a file, a link to nothing, more than 40 links).
def walk(here, text, links):
    text = next((q + text[len(p):] for p, q in PROC.items() if text.startswith(p + '/')), text)
    here, text = (T, text[len(T):]) if text.startswith('/') else (here, text)  # absolute texts name the tree
    names = [n for n in text.split('/') if n not in ('', '.')]
    for i, name in enumerate(names):
        path = os.path.dirname(here) if name == '..' else os.path.join(here, name)
        if not os.path.lexists(path): return here, names[i:]
        links[0] += os.path.islink(path)
        if os.path.islink(path) and (os.lstat(path).st_uid != 0 or others_may_write(here) or links[0] > 40): return None
        led = walk(here, os.readlink(path), links) if os.path.islink(path) else (path, [])
        if not led or led[1] or not os.path.isdir(led[0]): return None
        here = led[0]
    return here, []


def key(path): return tuple(os.stat(os.path.dirname(path))[1:3]), os.path.basename(path)  # its folder's identity, its name


def listing():  # each entry by key (a bind mount shows some at two paths): path, mode, owner and group, content, attributes
    paths = [T] + [os.path.join(top, n) for top, folders, files in os.walk(T) for n in folders + files]
    return {key(p): (os.path.relpath(p), os.lstat(p)[0], os.lstat(p)[4:6], os.readlink(p) if os.path.islink(p) else open(p, 'rb').read()
                     if os.path.isfile(p) else '', sorted(os.listxattr(p, follow_symlinks=False))) for p in reversed(paths)}


def readers(path):  # the tree's users whom the kernel lets open the file, each with its groups
    return {u for u in USERS if not subprocess.run(['setpriv', f'--reuid={u}', f'--regid={u}', f'--groups={",".join(map(str, [u, *GROUPS[u]]))}',
                                                    'cat', path], capture_output=True).returncode}


def seed(n):
    rng, made, shapes = random.Random(n), [], []
    do = lambda *c: shapes.append(' '.join(c)) or not subprocess.run(c, capture_output=True).returncode
    subprocess.run(['umount', '-R', T] if private else ['rm', '-rf', T], capture_output=True)
    os.makedirs(T, exist_ok=True) or private and subprocess.run(['mount', '-t', 'tmpfs', 't', T], check=True)
    GROUPS.update({u: rng.sample(POOL, rng.randint(0, 2)) for u in USERS})
    for i in range(rng.randint(6, 18)):  # t/ first, then each entry in a folder made before
        folders = [e for e in made if os.path.isdir(e) and not os.path.islink(e)]
        kind, at = rng.choice('ddfffflllhh' if made else 'd'), rng.choice(folders or ['.'])
        path, files = f'{at}/{kind}{i}' if made else T, [e for e in made if os.path.isfile(e) and not os.path.islink(e)]
        if kind == 'd': os.makedirs(path, exist_ok=True)
        elif kind == 'l':  # to any entry, or to a name in it; absolute, relative or through /proc
            to = rng.choice(made + folders) + rng.choice(['', '', f'/f{i}'])
            os.symlink(rng.choice([to, os.path.relpath(to, at), os.path.relpath(to, at), rng.choice(list(PROC)) + to]), path)
        elif kind == 'h' and files: os.link(rng.choice(files), path)
        else: open(path, 'w').write(f'old {i}')
        made.append(path)
        os.lchown(path, rng.choice((0, 0) + USERS), rng.choice((0,) + USERS + POOL))
        if kind != 'l':
            os.chmod(path, rng.choice([0o755, 0o755, 0o711, 0o775, 0o777, 0o700]) | rng.choice([0, 0, 0o1000, 0o2000])
                     if kind == 'd' else rng.choice([0o644, 0o600, 0o600, 0o640, 0o660, 0o604, 0o602, 0o602, 0o622, 0o622]) | rng.choice([0, 0, 0, 0o6000]))
        if kind != 'l' and rng.random() < 0.2:  # another user or group granted write, or (a folder) a default ACL
            subprocess.run(['setfacl', rng.choice(['-m', '-dm' if kind == 'd' else '-m']), rng.choice('ug') + f':{rng.choice(USERS + POOL)}:rwX', path])
    folders = [e for e in made if os.path.isdir(e) and not os.path.islink(e)]
    private and len(folders) > 1 and rng.random() < 0.25 and do('mount', '--bind', rng.choice(folders), rng.choice(folders[1:]))
    # The target: a walk through what the kernel finds, whoever made it, and now and then a new name.
    pick = lambda folder, fit: rng.choice([n for n in sorted(os.listdir(folder)) if fit(f'{folder}/{n}')] * 2 + ['n'])
    folder = rng.choice(['t', T])
    for _ in range(rng.randint(0, 2)):
        folder = os.path.join(folder, pick(folder, os.path.isdir)) if os.path.isdir(folder) else folder + '/n'
    name = pick(folder, os.path.lexists) if os.path.isdir(folder) else 'n'
    # What the model lets change: the chain's new folders and the target where the copy lands, else nothing.
    # Who may read the copy: no one, or the old target's readers where the rule keeps who may use it (a
    # regular file of one name in a folder no one else may change). A file beside the target is a change.
    led, allowed = walk(cwd, folder, [0]), []
    for new in led[1] + [name] if led else []: allowed.append(os.path.join(allowed[-1] if allowed else led[0], new))
    old = allowed[-1] if led and not led[1] else ''
    ns = USERNS if rng.random() < 0.5 else []
    not ns and os.path.isfile(old) and not os.path.islink(old) and rng.random() < 0.4 and os.link(old, old + 'h')  # the write reaches its other name
    flag = f if private and led and rng.random() < 0.4 and do('chattr', '+' + (f := rng.choice('ai')), led[0]) else ''
    one = os.path.isfile(old) and not os.path.islink(old) and os.lstat(old).st_nlink == 1
    keeps = one and not others_may_write(led[0])
    # It lands where the way is open, unless a folder that keeps its names takes no new entry (immutable) or
    # keeps the old one (a link, a file that may not be written in place: root's, of one name and its owner's
    # alone where others may change the folder); a link the rule trusts leading to a folder stays too.
    lands = bool(led) and (flag != 'i' if led[1] or not os.path.lexists(old) else not flag or keeps or one and os.lstat(old).st_uid == 0 and
                           os.lstat(old).st_mode & 0o044 == 0 if os.path.isfile(old) and not os.path.islink(old) else os.path.islink(old) and
                           not flag and (others_may_write(led[0]) or os.lstat(old).st_uid != 0 or not os.path.isdir(old)))
    target, allowed, trusted = allowed[-1] if led else '', allowed if lands else [], readers(old) if keeps else set()
    before, acls = listing(), subprocess.run(['getfacl', '-RPspn', 't'], capture_output=True, text=True).stdout.splitlines()
    text = f's,{folder}/,{name}'
    run = subprocess.run(ns + [program, text], capture_output=True, timeout=30)
    after, allowed = listing(), {key(p) for p in allowed if os.path.isdir(os.path.dirname(p))}
    faults = [f'status {run.returncode}, said {run.stdout + run.stderr!r}'] if run.returncode or run.stdout + run.stderr else []
    faults += [f'{(before.get(k) or after[k])[0]}: changed, outside {sorted(allowed)}'
               for k in set(before) | set(after) if (before.get(k) or ' ')[1:] != (after.get(k) or ' ')[1:] and k not in allowed]
    faults += [f'{e[0]}: the copy, readable by {sorted(extra)}' for e in after.values() if e[3] == b'secret' and (extra := readers(e[0]) - trusted)]
    # Outside a namespace, whose root may not write the users' folders, the copy lands where the model says, and keeps the old target's.
    got, was = after.get(key(target)) if lands and os.path.isdir(os.path.dirname(target)) else None, before.get(key(old)) if old else None
    faults += [f'{os.path.relpath(target)}: expected the copy, found {got}'] if lands and not ns and (got or ' ')[3:4] != (b'secret',) else []
    faults += [f'{got[0]}: expected {was} kept, found {got}'] if keeps and lands and not ns and got and (got[1], *got[2::2]) != (was[1] & ~0o6000, *was[2::2]) else []
    if faults:
        print(f'seed {n}: {" ".join(ns + [program])} {text!r}', *faults, *shapes, 'the tree before:', *(f'  {e[0]} {stat.filemode(e[1])} '
              f'{e[2][0]}:{e[2][1]} {e[3]!r}' for e in sorted(before.values())), f'groups {GROUPS}',
              ' '.join(a for a in acls if a[:6] == '# file' or ':' in a and '::' not in a).replace('# file:', '\n    ACL of'), sep='\n  ')
    return not faults


seeds = [int(os.environ['TARVIK_SEED'])] if os.environ.get('TARVIK_SEED') else range(1, 401)
failed = [n for n in seeds if not seed(n)]
os.write(3, f'trust-adversary: {len(seeds)} seeds, {len(failed)} failed {failed[:20]}\n'.encode())
sys.exit(1 if failed else 0)
