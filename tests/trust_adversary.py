# The generated adversary of root runs (tests/cases/trust-adversary.sh runs it as root in a row's folder
# that holds the 0600 file s): for each seed a random tree t/ of folders, files, links and hard links of
# root and two users, with random modes, sticky and set-group-id bits and ACLs; a root copy of s into a
# random path through it; and what must always hold, measured on the tree and as each user, against a
# model of the rule written here, never asked of the program.
import os, random, stat, subprocess, sys

program, T, USERS = sys.argv[1], os.path.realpath('t'), (1234, 65534)


# The rule: no one but root (the run's user) may change the entries of a folder that root owns and whose
# mode lets no group or other write (an ACL entry that grants write shows in the group bits).
def others_may_write(folder): return os.lstat(folder).st_uid != 0 or os.lstat(folder).st_mode & 0o022 != 0


# Where text leads from the folder here when only the links the rule trusts are followed (root's, in a
# folder no one else may change): the real folder and the names past it still to be made, or None
# where the way stops (a link not trusted, a file, a link to nothing, more than 40 links).
def walk(here, text, links):
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


def listing():  # each entry of the tree: mode, owner and group, content or link text, extended attributes
    paths = [T] + [os.path.join(top, n) for top, folders, files in os.walk(T) for n in folders + files]
    return {p: (os.lstat(p)[0], os.lstat(p)[4:6], os.readlink(p) if os.path.islink(p) else open(p, 'rb').read()
                if os.path.isfile(p) else '', [(k, os.getxattr(p, k, follow_symlinks=False))
                                               for k in os.listxattr(p, follow_symlinks=False)]) for p in paths}


def readers(path):  # the tree's users whom the kernel lets open the file
    return {u for u in USERS if not subprocess.run(['setpriv', f'--reuid={u}', f'--regid={u}', '--clear-groups', 'cat', path], capture_output=True).returncode}


def seed(n):
    rng, made = random.Random(n), []
    subprocess.run(['rm', '-rf', T], check=True)
    for i in range(rng.randint(6, 18)):  # t/ first, then each entry in a folder made before
        folders = [e for e in made if os.path.isdir(e) and not os.path.islink(e)]
        kind, at = rng.choice('ddffflllh' if made else 'd'), rng.choice(folders or ['.'])
        path, files = f'{at}/{kind}{i}' if made else T, [e for e in made if os.path.isfile(e) and not os.path.islink(e)]
        if kind == 'd': os.mkdir(path)
        elif kind == 'l':  # to any entry, or to a name in it; absolute or relative
            to = rng.choice(made + folders) + rng.choice(['', '', f'/f{i}'])
            os.symlink(rng.choice([to, os.path.relpath(to, at)]), path)
        elif kind == 'h' and files: os.link(rng.choice(files), path)
        else: open(path, 'w').write(f'old {i}')
        made.append(path)
        os.lchown(path, rng.choice((0, 0, 0) + USERS), rng.choice((0,) + USERS))
        if kind != 'l':
            os.chmod(path, rng.choice([0o755, 0o755, 0o711, 0o775, 0o777, 0o700]) | rng.choice([0, 0, 0o1000, 0o2000])
                     if kind == 'd' else rng.choice([0o644, 0o644, 0o600, 0o640, 0o660, 0o604]))
        if kind != 'l' and rng.random() < 0.2:  # another user granted write, or (a folder) a default ACL
            subprocess.run(['setfacl', rng.choice(['-m', '-dm' if kind == 'd' else '-m']), f'u:{rng.choice(USERS)}:rwX', path])
    # The target: a walk through what the kernel finds, whoever made it, and now and then a new name.
    pick = lambda folder, fit: rng.choice([n for n in sorted(os.listdir(folder)) if fit(f'{folder}/{n}')] * 2 + ['n'])
    folder = rng.choice(['t', T])
    for _ in range(rng.randint(0, 2)):
        folder = os.path.join(folder, pick(folder, os.path.isdir)) if os.path.isdir(folder) else folder + '/n'
    name = pick(folder, os.path.lexists) if os.path.isdir(folder) else 'n'
    # What the model lets change: the chain's new folders and the target, nothing where the way stops; who
    # may read the copy: no one, or the old target's readers where the rule keeps who may use it (a
    # regular file of one name in a folder no one else may change). A file beside the target is a change.
    led, allowed = walk(os.getcwd(), folder, [0]), []
    for new in led[1] + [name] if led else []: allowed.append(os.path.join(allowed[-1] if allowed else led[0], new))
    old = allowed[-1] if led and not led[1] else ''
    keeps = os.path.isfile(old) and not os.path.islink(old) and os.lstat(old).st_nlink == 1 and not others_may_write(led[0])
    trusted = readers(old) if keeps else set()
    before, acls = listing(), subprocess.run(['getfacl', '-RPspn', 't'], capture_output=True, text=True).stdout.splitlines()
    text = f's,{folder}/,{name}'
    run = subprocess.run([program, text], capture_output=True, timeout=30)
    after = listing()
    faults = [f'status {run.returncode}, said {run.stdout + run.stderr!r}'] if run.returncode or run.stdout + run.stderr else []
    faults += [f'{os.path.relpath(p)}: changed, outside {sorted(map(os.path.relpath, allowed))}'
               for p in sorted(set(before) | set(after)) if before.get(p) != after.get(p) and p not in allowed]
    faults += [f'{os.path.relpath(p)}: the copy, readable by {sorted(extra)}' for p, e in after.items()
               if e[2] == b'secret' and (extra := readers(p) - trusted)]
    if faults:
        print(f'seed {n}: {program} {text!r}', *faults, 'the tree before:', *(f'  {os.path.relpath(p)} {stat.filemode(e[0])} '
              f'{e[1][0]}:{e[1][1]} {e[2]!r}' for p, e in sorted(before.items())),
          ' '.join(a for a in acls if a[:6] == '# file' or ':' in a and '::' not in a).replace('# file:', '\n    ACL of'), sep='\n  ')
    return not faults


seeds = [int(os.environ['TARVIK_SEED'])] if os.environ.get('TARVIK_SEED') else range(1, 401)
failed = [n for n in seeds if not seed(n)]
os.write(3, f'trust-adversary: {len(seeds)} seeds, {len(failed)} failed {failed[:20]}\n'.encode())
sys.exit(1 if failed else 0)
