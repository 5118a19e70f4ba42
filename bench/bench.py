#!/usr/bin/env python3
# kelvo against the cheapest way to delete the same files, run by hand:
#
#     python3 bench/bench.py [--rounds 5] [--workdir /tmp] [--kelvo PATH] [--syscalls]
#                            [--scan-only] [--wine EXE [--wine-command wine]]
#     python3 bench/bench.py --network [--client sshfs] [--net-writable] [--delay-us 500] [--rounds 5] [--kelvo PATH]
#
# Builds kelvo (Release, in build/bench) unless --kelvo names a binary, makes
# seeded trees in a fresh directory under --workdir, runs kelvo only inside
# copies of them there, and removes that directory at the end. Needs python3,
# cmake, g++, GNU find, xargs and cp; --syscalls and --wine need strace. Reports,
# never asserts, the speed and memory targets; fails only when kelvo and the
# floor (or the two builds) leave different files behind.
#
# The clean tree is scanned twice: with the built-in rules (a mask file only
# beside the program) and with the sample files examples/KELVO.EXT and
# examples/KELVO.TAB beside it.
#
# --wine EXE adds the Windows figure, on a tree of 20 directories and about
# 2,000 files made like the others, with the sample files beside each build:
# directory opens per directory swept, counted as the openat calls with
# O_DIRECTORY in `strace -f -e trace=openat` of `wine EXE /S /N /Y`, less those
# of a bare `wine EXE /?` in the same place (Wine's own start), divided by the
# directories the descent sweeps; the same count for the Linux build; and the
# wall times of the Wine run, the Linux run and the bare start of the exe.
# A wineserver is kept running (`wineserver -p`) so that no run pays for its
# start, and its services are started by an untraced run before any count;
# WINEPREFIX is used as set, or a prefix is made in the work directory.
# Where the machine starts no 32-bit programs, give the x86_64 build
# (build/windows64/kelvo.exe) and --wine-command /usr/lib/wine/wine64.
#
# --network measures only a tree on a share: bench/latencyfs.c, built here
# with cc against libfuse3 (Debian: fuse3, libfuse3-dev), is mounted over a
# tree of --net-dirs directories and waits --delay-us in every request. Each
# command runs on a fresh mount, which counts the requests it served: the
# preview (kelvo /S /N, no key to read, so every file is offered and kept)
# against `find . -type f` and `fd -u -t f` where installed; the deletion
# (kelvo /S /N /Y) against sequential `xargs rm -f` and `xargs -P 16 rm -f`
# of exactly the files the run must delete, with the requests per deleted
# file and the most deletions the file system saw in flight at once; with
# --net-writable the tree holds no read-only file, so no failure is
# foreseen (on Windows each waits for the deletions before it). Permission checks cost no request
# (share clients answer them from their caches) unless --net-access. Needs
# root or FUSE rights.
#
# --client sshfs puts a real network file system client in the latency file
# system's place: sshfs (its default caches) to a local sftp-server, through
# bench/sftprelay.py, which carries each byte --delay-us / 2 later each way
# and counts the requests and the removals in flight. Debian: sshfs,
# openssh-sftp-server.
import argparse
import os
import random
import re
import shutil
import stat
import statistics
import subprocess
import sys
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

MASKS = ["*.BAK", "*.~*"]
BUILT_IN_RULES = [
    (".PAS", [".EXE", ".TPU", ".TPP", ".TPW"]),
    (".FTN", [".FOR", ".EXE", ".OBJ"]),
    (".FOR", [".EXE", ".OBJ"]),
    (".BAK", [".BAK"]),
]

WORDS = ("alpha beta gamma delta main util calc graph print sort parse lex io "
         "net disk menu help conf data demo test load save view edit crt dos "
         "math list tree heap unit run").split()
DIR_WORDS = ("src lib old work tools units fort pascal proj tmp build misc docs "
             "arch mod sub pkg").split()


# ---------------------------------------------------------------- tree making

def styled(rng, text):
    pick = rng.random()
    if pick < 0.35:
        return text.upper()
    if pick < 0.6:
        return text.lower()
    if pick < 0.8:
        return text.capitalize()
    return "".join(c.upper() if rng.random() < 0.5 else c.lower() for c in text)


class DirPlan:
    """One directory of a tree: its files and how deep it lies."""

    def __init__(self, rel, depth):
        self.rel = rel
        self.depth = depth
        self.files = []      # (name, mode)
        self.fifos = []
        self.children = []
        self.folded = set()  # names must differ without regard to case
        self.counter = 0
        self.read_only = False

    def stem(self, rng):
        self.counter += 1
        return f"{styled(rng, rng.choice(WORDS))}_{self.counter}"

    def add_file(self, name, mode=0o644):
        if name.upper() in self.folded:
            return False
        self.folded.add(name.upper())
        self.files.append((name, mode))
        return True

    def add_fifo(self, name):
        if name.upper() not in self.folded:
            self.folded.add(name.upper())
            self.fifos.append(name)

    def add_dir(self, name, depth):
        if name.upper() in self.folded:
            return None
        self.folded.add(name.upper())
        child = DirPlan(os.path.join(self.rel, name) if self.rel else name, depth)
        self.children.append(child)
        return child


def add_source(rng, d, ext, derived, chance):
    stem = d.stem(rng)
    d.add_file(stem + styled(rng, ext))
    for x in derived:
        if rng.random() < chance:
            d.add_file(stem + styled(rng, x))
    return stem


def fill_dir(rng, d, count, clean, max_depth=5):
    """Adds about `count` files of every kind a compiler's directory holds."""
    while len(d.files) < count:
        r = rng.random()
        if clean:
            # Sources and unrelated files only: a run finds nothing to delete.
            if r < 0.25:
                add_source(rng, d, ".PAS", [], 0)
            elif r < 0.35:
                add_source(rng, d, ".FTN", [], 0)
            elif r < 0.5:
                add_source(rng, d, ".FOR", [], 0)
            elif r < 0.7:
                stem = add_source(rng, d, ".C", [], 0)
                d.add_file(stem + styled(rng, ".H"))
            else:
                d.add_file(d.stem(rng) + styled(rng, rng.choice([".TXT", ".DOC", ".DAT", ".INC", ".OBJ", ".EXE"])))
            continue
        if r < 0.22:
            add_source(rng, d, ".PAS", [".EXE", ".TPU", ".TPP", ".TPW"], 0.45)
        elif r < 0.30:
            add_source(rng, d, ".FTN", [".FOR", ".EXE", ".OBJ"], 0.5)
        elif r < 0.44:
            add_source(rng, d, ".FOR", [".EXE", ".OBJ"], 0.5)
        elif r < 0.54:
            # No rule for C: its objects stay.
            add_source(rng, d, ".C", [".OBJ", ".EXE"], 0.5)
        elif r < 0.64:
            stem = d.stem(rng)
            d.add_file(stem + styled(rng, rng.choice([".BAK", ".~PA", ".~FO", ".PAS.~1~", ".~"])))
        elif r < 0.74:
            # Derived files without a source stay.
            d.add_file(d.stem(rng) + styled(rng, rng.choice([".EXE", ".OBJ", ".TPU", ".FOR"])))
        elif r < 0.88:
            stem = d.stem(rng)
            d.add_file(stem + styled(rng, rng.choice(
                [".TXT", ".DOC", ".DAT", ".H", ".INC", "", "~.TXT", ".BAK.TXT", ".BAKE", ".PASX", "PAS"])))
        elif r < 0.93:
            # Several dots: the base is everything before the last one, so the
            # shorter name next to it is no derived file.
            stem = d.stem(rng) + "." + styled(rng, rng.choice(["v2", "old", "x86"]))
            d.add_file(stem + styled(rng, rng.choice([".PAS", ".FOR"])))
            d.add_file(stem + styled(rng, ".EXE"))
            d.add_file(stem.rsplit(".", 1)[0] + styled(rng, ".EXE"))
        elif r < 0.96:
            # Read-only files are never deleted, by any pass.
            stem = d.stem(rng)
            d.add_file(stem + styled(rng, ".PAS"))
            d.add_file(stem + styled(rng, ".EXE"), 0o444)
            d.add_file(stem + styled(rng, ".TPU"))
            d.add_file(d.stem(rng) + styled(rng, ".BAK"), 0o444)
        elif r < 0.99:
            # Hidden names: neither masks nor rules see them.
            stem = "." + d.stem(rng)
            d.add_file(stem + styled(rng, rng.choice([".BAK", ".~PA"])))
            d.add_file(stem + styled(rng, ".PAS"))
            d.add_file(stem + styled(rng, ".EXE"))
        else:
            # A derived name can be a directory or a FIFO: neither goes.
            if rng.random() < 0.7:
                continue
            stem = add_source(rng, d, ".PAS", [".TPU"], 1.0)
            if rng.random() < 0.5 or d.depth >= max_depth:
                d.add_fifo(stem + styled(rng, ".EXE"))
                d.add_fifo(d.stem(rng) + styled(rng, ".BAK"))
            else:
                sub = d.add_dir(stem + styled(rng, ".EXE"), d.depth + 1)
                if sub is not None:
                    sub.add_file(sub.stem(rng) + ".BAK")


def plan_tree(rng, dirs, files_per_dir, max_depth, clean):
    root = DirPlan("", 0)
    all_dirs = [root]
    by_depth = [[root]]
    while len(all_dirs) < dirs:
        # Every level about as full as the others, not a chain of deep ones.
        parent = rng.choice(by_depth[rng.randrange(min(len(by_depth), max_depth))])
        name = styled(rng, rng.choice(DIR_WORDS)) + str(len(all_dirs))
        if rng.random() < 0.1:
            name += "." + styled(rng, "d")
        child = parent.add_dir(name, parent.depth + 1)
        if child is None:
            continue
        all_dirs.append(child)
        if child.depth == len(by_depth):
            by_depth.append([])
        by_depth[child.depth].append(child)
    for d in all_dirs:
        fill_dir(rng, d, rng.randint(files_per_dir * 9 // 10, files_per_dir * 11 // 10), clean, max_depth)
    if not clean:
        # Dot directories are never entered, nor are read-only ones; the
        # read-only ones hold nothing a mask matches, since a deleting find
        # cannot prune a subtree.
        shallow = [d for d in all_dirs if d.depth < max_depth]
        for i in range(6):
            parent = rng.choice(shallow)
            d = parent.add_dir(rng.choice([".git", ".cache", ".svn"]) + str(i), parent.depth + 1)
            if d is not None:
                fill_dir(rng, d, 20, False, max_depth)
        for i in range(4):
            parent = rng.choice(shallow)
            d = parent.add_dir(styled(rng, "frozen") + str(i), parent.depth + 1)
            if d is None:
                continue
            d.read_only = True
            while len(d.files) < 20:
                add_source(rng, d, rng.choice([".PAS", ".FOR", ".FTN"]), [".EXE", ".OBJ", ".TPU"], 0.7)
    return root


def write_tree(root_path, plan):
    """Creates the planned tree; returns the read-only directories made."""
    read_only = []
    stack = [plan]
    while stack:
        d = stack.pop()
        path = os.path.join(root_path, d.rel)
        os.makedirs(path, exist_ok=True)
        for name, mode in d.files:
            fd = os.open(os.path.join(path, name), os.O_CREAT | os.O_EXCL | os.O_WRONLY, 0o644)
            os.close(fd)
            if mode != 0o644:
                os.chmod(os.path.join(path, name), mode)
        for name in d.fifos:
            os.mkfifo(os.path.join(path, name))
        for child in d.children:
            os.makedirs(os.path.join(root_path, child.rel))
        stack.extend(d.children)
        if d.read_only:
            read_only.append(d.rel)
    # Last, so that nothing above needed to write into them.
    for rel in read_only:
        os.chmod(os.path.join(root_path, rel), 0o555)
    return read_only


def writable(root_path):
    """Makes the read-only files of a tree writable: then no deletion fails
    where the run can see it coming, and none waits for those before it."""
    for top, _, names in os.walk(root_path):
        for name in names:
            path = os.path.join(top, name)
            st = os.lstat(path)
            if stat.S_ISREG(st.st_mode) and not st.st_mode & stat.S_IWUSR:
                os.chmod(path, 0o644)


def write_flat(root_path, sources, rng):
    """One directory: `sources` sources, each with one derived file."""
    os.makedirs(root_path)
    pairs = [(".PAS", ".EXE"), (".FOR", ".OBJ"), (".FTN", ".FOR"), (".PAS", ".TPU")]
    for i in range(sources):
        src, der = pairs[i % len(pairs)]
        stem = f"{styled(rng, rng.choice(WORDS))}_{i}"
        for ext in (src, der):
            fd = os.open(os.path.join(root_path, stem + styled(rng, ext)), os.O_CREAT | os.O_EXCL | os.O_WRONLY, 0o644)
            os.close(fd)


# ------------------------------------------------------ model of the deletion

def mask_regex(mask):
    # "*" runs over dots too; letters compare without regard to ASCII case.
    body = "".join(".*" if c == "*" else "." if c == "?" else re.escape(c) for c in mask)
    return re.compile(body, re.IGNORECASE | re.ASCII | re.DOTALL)


MASK_RES = [mask_regex(m) for m in MASKS]
RULE_RES = [(mask_regex("*" + src), derived) for src, derived in BUILT_IN_RULES]


def expected_deletions(root):
    """Relative paths ("./a/b") the run must delete, from the tree as it lies."""
    deleted = []
    stack = [""]
    while stack:
        rel = stack.pop()
        path = os.path.join(root, rel) if rel else root
        entries = {}
        subdirs = []
        with os.scandir(path) as it:
            for e in it:
                st = e.stat(follow_symlinks=False)
                if stat.S_ISLNK(st.st_mode):
                    raise SystemExit(f"bench: links are not modelled: {e.path}")
                if e.name.upper() in entries:
                    raise SystemExit(f"bench: names equal but for case are not modelled: {e.path}")
                entries[e.name.upper()] = (e.name, st.st_mode)
                if (stat.S_ISDIR(st.st_mode) and not e.name.startswith(".")
                        and st.st_mode & stat.S_IWUSR):
                    subdirs.append(os.path.join(rel, e.name) if rel else e.name)
        order = sorted(entries)
        gone = set()

        def plain(key):
            name, mode = entries[key]
            return key not in gone and stat.S_ISREG(mode) and not name.startswith(".")

        def delete(key):
            if entries[key][1] & stat.S_IWUSR:
                gone.add(key)
                deleted.append("./" + os.path.join(rel, entries[key][0]))

        for rx in MASK_RES:
            for key in order:
                if plain(key) and rx.fullmatch(entries[key][0]):
                    delete(key)
        for rx, derived in RULE_RES:
            for key in order:
                if not (plain(key) and rx.fullmatch(entries[key][0])):
                    continue
                name = entries[key][0]
                base = name[:name.rfind(".")]
                for ext in derived:
                    target = (base + ext).upper()
                    if target in entries and plain(target):
                        delete(target)
        stack.extend(sorted(subdirs, reverse=True))
    return deleted


# ------------------------------------------------------------------- running

def listing(root):
    """Every entry below root, with its kind, as a set of "kind ./path"."""
    out = set()
    stack = [root]
    while stack:
        path = stack.pop()
        with os.scandir(path) as it:
            for e in it:
                rel = "./" + os.path.relpath(e.path, root)
                if e.is_dir(follow_symlinks=False):
                    out.add("d " + rel)
                    stack.append(e.path)
                else:
                    out.add(("f " if e.is_file(follow_symlinks=False) else "o ") + rel)
    return out


class Work:
    """The fresh directory that holds every tree, copy and file of a run."""

    def __init__(self, top):
        self.top = top
        self.kelvo = os.path.join(top, "bin", "kelvo")
        self.read_only = {}  # tree root -> read-only dirs in it

    def inside(self, path):
        path = os.path.realpath(path)
        return path != self.top and os.path.commonpath([path, self.top]) == self.top

    def kelvo_argv(self, where, program=None):
        """kelvo's command line, once `where` is known to lie in the work
        directory: with /Y it deletes without asking."""
        if not self.inside(where):
            raise SystemExit(f"bench: refusing to run kelvo outside {self.top}: {where}")
        return (program or [self.kelvo]) + ["/S", "/N", "/Y"]

    def copy(self, tree, name):
        dst = os.path.join(self.top, name)
        subprocess.run(["cp", "-al", tree, dst], check=True)
        self.read_only[dst] = self.read_only.get(tree, [])
        return dst

    def remove(self, path):
        if not self.inside(path) or not os.path.exists(path):
            return
        for rel in self.read_only.get(path, []):
            p = os.path.join(path, rel)
            if os.path.isdir(p):
                os.chmod(p, 0o755)
        subprocess.run(["rm", "-rf", "--one-file-system", path], check=True)


TIME = "/usr/bin/time"  # GNU time, for the peak resident size of one process


# kelvo ends with status 2 where it could not delete a file it announced:
# the deletion trees hold read-only files on purpose.
KELVO_DONE = (0, 2)


def timed(argv, cwd, stdin=subprocess.DEVNULL, allowed=(0,)):
    """Runs one process; returns wall seconds and its peak resident KiB (0
    without GNU time). A child of this interpreter would report the
    interpreter's own size as its peak, so a small C program forks it."""
    mem_file = None
    if os.access(TIME, os.X_OK):
        fd, mem_file = tempfile.mkstemp(prefix="peak.", dir=os.path.dirname(cwd))
        os.close(fd)
        argv = [TIME, "-f", "%M", "-o", mem_file] + argv
    start = time.perf_counter()
    code = subprocess.run(argv, cwd=cwd, stdin=stdin, stdout=subprocess.DEVNULL).returncode
    elapsed = time.perf_counter() - start
    if code not in allowed:
        raise SystemExit(f"bench: {' '.join(argv)} in {cwd} exited with {code}")
    peak = 0
    if mem_file:
        with open(mem_file) as f:
            peak = int(f.read().split()[-1])
        os.unlink(mem_file)
    return elapsed, peak


def find_mask_args():
    args = ["find", ".", "!", "-path", "*/.*", "("]
    for i, m in enumerate(MASKS):
        if i:
            args.append("-o")
        args += ["-iname", m]
    return args + [")", "-type", "f", "-perm", "-u=w"]


class Case:
    """A tree, its copies, kelvo and the floor on them."""

    def __init__(self, work, tree, label):
        self.work, self.tree, self.label = work, tree, label
        self.before = listing(tree)
        model = set(expected_deletions(tree))
        self.expected_after = {e for e in self.before if e[2:] not in model}
        if len(self.expected_after) != len(self.before) - len(model):
            raise SystemExit(f"bench: {label}: the model names files that are not there")
        found = subprocess.run(find_mask_args() + ["-print0"], cwd=tree, check=True,
                               capture_output=True).stdout.split(b"\0")
        by_find = {p.decode() for p in found if p}
        if not by_find <= model:
            extra = sorted(by_find - model)[:10]
            raise SystemExit(f"bench: {label}: the find expression matches more than the model: {extra}")
        self.derived = os.path.join(work.top, label + ".derived")
        with open(self.derived, "wb") as f:
            f.write(b"".join(p.encode() + b"\0" for p in sorted(model - by_find)))
        self.deleted = len(model)
        self.kelvo_runs, self.floor_runs = [], []

    def run_kelvo(self, where):
        return timed(self.work.kelvo_argv(where), where, allowed=KELVO_DONE)

    def run_floor(self, where):
        t1, m1 = timed(find_mask_args() + ["-delete"], where)
        with open(self.derived, "rb") as f:
            t2, m2 = timed(["xargs", "-0", "-r", "rm", "-f", "--"], where, stdin=f)
        return t1 + t2, max(m1, m2), m1

    def check(self, where, who):
        after = listing(where)
        if after != self.expected_after:
            missing = sorted(self.expected_after - after)[:10]
            extra = sorted(after - self.expected_after)[:10]
            raise SystemExit(f"bench: FAIL {self.label}: {who} left a different tree\n"
                             f"  deleted, should stay: {missing}\n  stayed, should go: {extra}")

    def round(self, n):
        ck = self.work.copy(self.tree, f"{self.label}.k{n}")
        cf = self.work.copy(self.tree, f"{self.label}.f{n}")
        try:
            for who in (("kelvo", "floor") if n % 2 == 0 else ("floor", "kelvo")):
                if who == "kelvo":
                    self.kelvo_runs.append(self.run_kelvo(ck))
                else:
                    self.floor_runs.append(self.run_floor(cf))
            self.check(ck, "kelvo")
            self.check(cf, "the floor")
        finally:
            self.work.remove(ck)
            self.work.remove(cf)

    def kelvo_time(self):
        return statistics.median(t for t, _ in self.kelvo_runs)

    def floor_time(self):
        return statistics.median(r[0] for r in self.floor_runs)


def largest_listing_bytes(root):
    """Bytes the system hands over for the largest directory's entries."""
    best = 0
    for path, dirs, files in os.walk(root):
        names = dirs + files
        size = sum((19 + len(os.fsencode(n)) + 1 + 7) // 8 * 8 for n in names)
        best = max(best, size)
    return best


def syscall_profile(work, tree, label, files):
    if shutil.which("strace") is None:
        print(f"  {label}: strace is not installed")
        return
    where = work.copy(tree, label + ".strace")
    out = os.path.join(work.top, label + ".strace.txt")
    try:
        subprocess.run(["strace", "-c", "-f", "-o", out] + work.kelvo_argv(where), cwd=where,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
    finally:
        work.remove(where)
    print(f"\n  syscalls of kelvo, {label} ({files} entries):")
    with open(out) as f:
        lines = f.read().splitlines()
    for line in lines:
        parts = line.split()
        if len(parts) >= 5 and parts[-1] != "total" and parts[3].isdigit():
            calls = int(parts[3])
            if calls >= files // 100:
                print(f"    {parts[-1]:<14} {calls:>9} calls  {calls / files:6.2f} per entry  {parts[0]:>6}% of time")
        elif "total" in line:
            print("    " + line.strip())


# ------------------------------------------------------------ Windows figure

def swept_directories(root):
    """The directories a descent sweeps: the top and every plain one below
    that is neither a dot directory nor read-only."""
    count = 0
    stack = [root]
    while stack:
        path = stack.pop()
        count += 1
        with os.scandir(path) as it:
            for e in it:
                if (e.is_dir(follow_symlinks=False) and not e.name.startswith(".")
                        and e.stat(follow_symlinks=False).st_mode & stat.S_IWUSR):
                    stack.append(e.path)
    return count


def directory_opens(work, argv, where, env):
    """openat calls with O_DIRECTORY made by argv and its children."""
    out = os.path.join(work.top, "opens.strace")
    code = subprocess.run(["strace", "-f", "-e", "trace=openat", "-o", out] + argv, cwd=where, env=env,
                          stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL).returncode
    if code not in KELVO_DONE:
        raise SystemExit(f"bench: {' '.join(argv)} in {where} exited with {code}")
    with open(out) as f:
        count = sum(1 for line in f if "O_DIRECTORY" in line)
    os.unlink(out)
    return count


def wine_figure(work, args, rng):
    if shutil.which("strace") is None:
        raise SystemExit("bench: --wine needs strace")
    env = dict(os.environ, WINEDEBUG="-all")
    if os.path.basename(args.wine_command[0]) == "wine64":
        # The 64-bit loader started by hand must also be the one Wine
        # starts its own programs with.
        env.setdefault("WINELOADER", shutil.which(args.wine_command[0]) or args.wine_command[0])
    if "WINEPREFIX" not in env:
        env["WINEPREFIX"] = os.path.join(work.top, "wineprefix")
        print(f"making a Wine prefix in {env['WINEPREFIX']} ...", flush=True)
        subprocess.run(args.wine_command + ["wineboot", "-i"], env=dict(env, WINEDLLOVERRIDES="mscoree,mshtml="),
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # A server already running for the prefix is used and left running.
    started = subprocess.run(["wineserver", "-p"], env=env, stderr=subprocess.DEVNULL).returncode == 0
    try:
        windir = os.path.join(work.top, "win")
        linuxdir = os.path.join(work.top, "bin-samples")
        os.makedirs(windir)
        exe = os.path.join(windir, "kelvo.exe")
        shutil.copy2(args.wine, exe)
        for name in ("KELVO.EXT", "KELVO.TAB"):
            shutil.copy2(os.path.join(REPO, "examples", name), os.path.join(windir, name))
        tree = os.path.join(work.top, "wine-tree")
        work.read_only[tree] = write_tree(tree, plan_tree(rng, 20, 100, 3, False))
        files = sum(1 for e in listing(tree) if not e.startswith("d "))
        swept = swept_directories(tree)
        windows = args.wine_command + [exe]
        linux = [os.path.join(linuxdir, "kelvo")]
        # Wine starts its services with the first program; started here,
        # outside strace, they are not counted and strace need not wait for
        # them to end.
        subprocess.run(windows + ["/?"], cwd=tree, env=env, check=True,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)

        where = work.copy(tree, "wine.bare")
        bare_opens = directory_opens(work, windows + ["/?"], where, env)
        linux_bare_opens = directory_opens(work, linux + ["/?"], where, env)
        work.remove(where)
        where = work.copy(tree, "wine.opens")
        wine_opens = directory_opens(work, work.kelvo_argv(where, windows), where, env) - bare_opens
        wine_left = listing(where)
        work.remove(where)
        where = work.copy(tree, "linux.opens")
        linux_opens = directory_opens(work, work.kelvo_argv(where, linux), where, env) - linux_bare_opens
        linux_left = listing(where)
        work.remove(where)
        if wine_left != linux_left:
            raise SystemExit(f"bench: FAIL the two builds left different files\n"
                             f"  only after Windows: {sorted(wine_left - linux_left)[:10]}\n"
                             f"  only after Linux: {sorted(linux_left - wine_left)[:10]}")

        runs = {"wine": [], "linux": [], "bare": []}
        for n in range(args.rounds):
            for who, argv in (("wine", windows), ("linux", linux)):
                where = work.copy(tree, f"{who}.{n}")
                start = time.perf_counter()
                code = subprocess.run(work.kelvo_argv(where, argv), cwd=where, env=env,
                                      stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL).returncode
                runs[who].append(time.perf_counter() - start)
                if code not in KELVO_DONE:
                    raise SystemExit(f"bench: {who} run exited with {code}")
                work.remove(where)
            start = time.perf_counter()
            subprocess.run(windows + ["/?"], cwd=tree, env=env, check=True,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
            runs["bare"].append(time.perf_counter() - start)
    finally:
        if started:
            subprocess.run(["wineserver", "-k"], env=env)
    wine_t, linux_t, bare_t = (statistics.median(runs[k]) for k in ("wine", "linux", "bare"))
    print(f"\nWindows figure: {swept} directories swept, {files} files, sample rule files; "
          f"medians of {args.rounds} rounds")
    print(f"  directory opens per directory swept: Windows build under Wine "
          f"{wine_opens / swept:.1f} ({wine_opens} less a bare start's {bare_opens}; "
          f"{'ok' if wine_opens <= 3 * swept else 'OVER'} <=3), Linux build "
          f"{linux_opens / swept:.1f} ({linux_opens})")
    print(f"  wall time: Wine run {wine_t:.3f} s, its bare start (/?) {bare_t:.3f} s, "
          f"so {wine_t - bare_t:.3f} s of work; Linux build {linux_t:.3f} s")
    print("  both builds left the same files")


# ------------------------------------------------------------ network figure

LATENCYFS = os.path.join(REPO, "bench", "latencyfs.c")
# The kinds of request shown; every kind counts towards the total.
SHOWN_REQUESTS = ("getattr", "opendir", "readdir", "unlink", "access")
SFTPRELAY = os.path.join(REPO, "bench", "sftprelay.py")
SFTP_SERVER = "/usr/lib/openssh/sftp-server"


def build_latencyfs(work):
    out = os.path.join(work.top, "bin-net", "latencyfs")
    os.makedirs(os.path.dirname(out))
    flags = subprocess.run(["pkg-config", "--cflags", "--libs", "fuse3"], capture_output=True, text=True)
    flags = flags.stdout.split() if flags.returncode == 0 else ["-I/usr/include/fuse3", "-lfuse3", "-lpthread"]
    cc = shutil.which("cc") or shutil.which("gcc") or "cc"
    built = subprocess.run([cc, "-O2", "-Wall", "-Wextra", "-o", out, LATENCYFS] + flags)
    if built.returncode != 0:
        raise SystemExit("bench: --network needs libfuse3 (Debian: fuse3 and libfuse3-dev)")
    return out


class LatencyMount:
    """The latency file system mounted over `backing` for one command; the
    requests it served are in `requests` once it is unmounted."""

    def __init__(self, work, fs, backing, args):
        self.work, self.fs, self.backing = work, fs, backing
        self.options = ["--delay-us", str(args.delay_us)] + (["--access"] if args.net_access else [])
        self.delay_us = args.delay_us
        self.point = os.path.join(work.top, "mnt")
        self.stats = os.path.join(work.top, "mnt.stats")
        self.requests = {}

    what = "the latency file system"

    def argv(self):
        return [self.fs, self.backing, self.point, "--stats", self.stats] + self.options

    def __enter__(self):
        os.makedirs(self.point, exist_ok=True)
        self.proc = subprocess.Popen(self.argv(), stdin=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while not os.path.ismount(self.point):
            if self.proc.poll() is not None or time.monotonic() > deadline:
                self.proc.kill()
                raise SystemExit(f"bench: {self.what} did not mount (is /dev/fuse there?)")
            time.sleep(0.01)
        return self.point

    def __exit__(self, *exc):
        for _ in range(50):
            if subprocess.run(["fusermount3", "-u", self.point], stderr=subprocess.DEVNULL).returncode == 0:
                break
            time.sleep(0.1)
        try:
            self.proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            raise SystemExit("bench: the latency file system did not end")
        deadline = time.monotonic() + 10  # sshfs leaves its relay to write them after it
        while not os.path.exists(self.stats) and time.monotonic() < deadline:
            time.sleep(0.01)
        with open(self.stats) as f:
            self.requests = {k: int(v) for k, v in (line.split() for line in f if line.strip())}
        self.in_flight = self.requests.pop("unlinks-in-flight-at-most", 0)
        os.unlink(self.stats)
        return False


class SshfsMount(LatencyMount):
    """sshfs over bench/sftprelay.py to a local sftp-server, mounted over
    `backing` for one command: a real network file system client, each byte
    carried half of --delay-us later each way. The requests the client sent
    are in `requests` once it is unmounted; sshfs keeps its own caches, as
    it does by default."""

    what = "sshfs"

    def argv(self):
        relay = f"{sys.executable} {SFTPRELAY} --delay-us {self.delay_us // 2} --stats {self.stats}"
        return ["sshfs", "-f", "-o", f"ssh_command={relay}", f"relay:{self.backing}", self.point]


def same_as_sequential(work, fs, tree, args):
    """The preview and the deletion write the same bytes and leave the same
    files with the read-ahead as without it (KELVO_READ_AHEAD=0); only the
    last line, the free space, may differ."""
    for argv in ([work.kelvo, "/S", "/N"], [work.kelvo, "/S", "/N", "/Y"]):
        seen = []
        for ahead in ("0", "1"):
            copy = work.copy(tree, f"net.check{ahead}")
            with args.mount(work, fs, copy, args) as where:
                work.kelvo_argv(where)  # refuses a place outside the work directory
                run = subprocess.run(argv, cwd=where, stdin=subprocess.DEVNULL, capture_output=True,
                                     env=dict(os.environ, KELVO_READ_AHEAD=ahead))
            if run.returncode not in KELVO_DONE:
                raise SystemExit(f"bench: {' '.join(argv)} exited with {run.returncode}: {run.stderr!r}")
            seen.append((run.stdout.rstrip(b"\r\n").rsplit(b"\n", 1)[0], listing(copy)))
            work.remove(copy)
        if seen[0] != seen[1]:
            raise SystemExit(f"bench: FAIL network: {' '.join(argv[1:])} wrote or left otherwise "
                             "with the read-ahead than without it")
    print("  with and without the read-ahead: the same bytes and the same files left", flush=True)


def network_figure(work, args, rng):
    if shutil.which("fusermount3") is None:
        raise SystemExit("bench: --network needs fusermount3 (Debian: fuse3)")
    if args.client == "sshfs":
        if shutil.which("sshfs") is None or not os.path.exists(SFTP_SERVER):
            raise SystemExit("bench: --client sshfs needs sshfs and sftp-server (Debian: sshfs, openssh-sftp-server)")
        fs, args.mount = None, SshfsMount
    else:
        fs, args.mount = build_latencyfs(work), LatencyMount
    tree = os.path.join(work.top, "net-tree")
    work.read_only[tree] = write_tree(tree, plan_tree(rng, args.net_dirs, args.net_files_per_dir, 5, False))
    if args.net_writable:
        writable(tree)
    before = listing(tree)
    model = sorted(expected_deletions(tree))
    expected_after = {e for e in before if e[2:] not in model}
    files = sum(1 for e in before if not e.startswith("d "))
    swept = swept_directories(tree)
    deleted_list = os.path.join(work.top, "net.deleted")
    with open(deleted_list, "wb") as f:
        f.write(b"".join(p.encode() + b"\0" for p in model))
    fd = shutil.which("fdfind") or shutil.which("fd")

    def preview_argv(where):
        work.kelvo_argv(where)  # refuses a place outside the work directory
        return [work.kelvo, "/S", "/N"]

    rm = ["xargs", "-0", "-r", "rm", "-f", "--"]
    rm16 = ["xargs", "-0", "-r", "-P", "16", "-n", "64", "rm", "-f", "--"]
    previews = [("kelvo /S /N", preview_argv, False), ("find . -type f", lambda w: ["find", ".", "-type", "f"], False)]
    if fd:
        previews.append(("fd -u -t f", lambda w: [fd, "-u", "-t", "f"], False))
    deletes = [("kelvo /S /N /Y", work.kelvo_argv, False), ("xargs rm -f", lambda w: rm, True),
               ("xargs -P 16 rm -f", lambda w: rm16, True)]
    times = {name: [] for name, _, _ in previews + deletes}
    requests = {}
    in_flight = {}

    for n in range(args.rounds):
        order = previews if n % 2 == 0 else previews[::-1]
        for name, argv_of, listed in order:
            mount = args.mount(work, fs, tree, args)
            with mount as where:
                t, _ = timed(argv_of(where), where, allowed=KELVO_DONE)
            times[name].append(t)
            requests.setdefault(name, mount.requests)
        if n == 0 and listing(tree) != before:
            raise SystemExit("bench: FAIL network preview: a preview changed the tree")
        order = deletes if n % 2 == 0 else deletes[::-1]
        for name, argv_of, listed in order:
            copy = work.copy(tree, f"net.{n}")
            mount = args.mount(work, fs, copy, args)
            with mount as where:
                if listed:
                    with open(deleted_list, "rb") as f:
                        t, _ = timed(argv_of(where), where, stdin=f)
                else:
                    t, _ = timed(argv_of(where), where, allowed=KELVO_DONE)
            times[name].append(t)
            requests.setdefault(name, mount.requests)
            in_flight[name] = max(in_flight.get(name, 0), mount.in_flight)
            after = listing(copy)
            work.remove(copy)
            if after != expected_after:
                raise SystemExit(f"bench: FAIL network delete: {name} left a different tree\n"
                                 f"  deleted, should stay: {sorted(expected_after - after)[:10]}\n"
                                 f"  stayed, should go: {sorted(after - expected_after)[:10]}")
        print(f"network round {n + 1}/{args.rounds} done", flush=True)

    same_as_sequential(work, fs, tree, args)

    med = {name: statistics.median(ts) for name, ts in times.items()}
    print(f"\nnetwork figure, {args.client}: {args.delay_us / 1000:g} ms per request, {swept} directories swept, "
          f"{files} files, {len(model)} deleted{', no read-only file' if args.net_writable else ''}; "
          f"medians of {args.rounds} rounds; "
          f"requests of the first round")
    head = ("command", "s", "ratios", "requests") + SHOWN_REQUESTS
    rows = []
    for group in (previews, deletes):
        peers = [name for name, _, _ in group if not name.startswith("kelvo")]
        for name, _, _ in group:
            ratios = "" if not name.startswith("kelvo") else ", ".join(
                f"{med[name] / med[p]:.2f}x {p}" for p in peers)
            req = requests[name]
            total = sum(req.values())
            rows.append((name, f"{med[name]:.3f}", ratios, str(total)) + tuple(str(req.get(k, 0)) for k in SHOWN_REQUESTS))
        if group is deletes:
            for name, _, _ in group:
                per = sum(requests[name].values()) / max(1, len(model))
                rows.append((f"  per deleted file, {name}", "", "", f"{per:.2f}") + ("",) * len(SHOWN_REQUESTS))
            for name, _, _ in group:
                rows.append((f"  deletions in flight at most, {name}", "", "", str(in_flight.get(name, 0)))
                            + ("",) * len(SHOWN_REQUESTS))
    widths = [max(len(r[i]) for r in rows + [head]) for i in range(len(head))]
    for r in [head] + rows:
        print("  " + "  ".join(v.ljust(w) for v, w in zip(r, widths)))
    if not fd:
        print("  fd is not installed (Debian: fd-find)")


# -------------------------------------------------------------------- report

def fmt_mem(kib):
    return f"{kib / 1024:.1f} MiB" if kib else "n/a"


def main():
    ap = argparse.ArgumentParser(description="kelvo against a find/rm floor")
    ap.add_argument("--rounds", type=int, default=5, help="rounds per case (default 5)")
    ap.add_argument("--workdir", default=tempfile.gettempdir(),
                    help="where the fresh work directory is made (default: the system temp dir)")
    ap.add_argument("--kelvo", help="a built kelvo to measure (default: build one in build/bench)")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--dirs", type=int, default=1000)
    ap.add_argument("--files-per-dir", type=int, default=100)
    ap.add_argument("--flat", type=int, default=200000, help="files in the large flat directory")
    ap.add_argument("--syscalls", action="store_true", help="also count kelvo's syscalls with strace -c")
    ap.add_argument("--keep", action="store_true", help="keep the work directory")
    ap.add_argument("--scan-only", action="store_true",
                    help="only the scans of the clean tree (and the Windows figure)")
    ap.add_argument("--network", action="store_true",
                    help="only the network figure: preview and delete on the latency file system")
    ap.add_argument("--delay-us", type=int, default=500,
                    help="network: wait per request, or round trip with sshfs (default 500)")
    ap.add_argument("--client", choices=("latencyfs", "sshfs"), default="latencyfs",
                    help="network: the latency file system, or sshfs to a local sftp-server over a slow relay")
    ap.add_argument("--net-dirs", type=int, default=200, help="network: directories in the tree (default 200)")
    ap.add_argument("--net-files-per-dir", type=int, default=50)
    ap.add_argument("--net-writable", action="store_true",
                    help="network: no read-only file in the tree, so no deletion fails foreseen")
    ap.add_argument("--net-access", action="store_true",
                    help="network: each permission check (chdir's) is a round trip too")
    ap.add_argument("--wine", metavar="EXE", help="also the Windows figure, for this kelvo.exe")
    ap.add_argument("--wine-command", default="wine",
                    help="how Wine is started (default: wine); split at spaces")
    args = ap.parse_args()
    if args.rounds < 1:
        ap.error("--rounds must be at least 1")
    args.wine_command = args.wine_command.split()
    # Only the companion files laid beside each program count, not a user's
    # configuration, and every program writes the same bytes on any machine.
    os.environ.update(XDG_CONFIG_HOME="/nonexistent", XDG_CONFIG_DIRS="/nonexistent", LC_ALL="C")
    if args.wine:
        args.wine = os.path.realpath(args.wine)

    parent = os.path.realpath(args.workdir)
    if not os.path.isdir(parent):
        ap.error(f"no such directory: {parent}")
    home = os.path.realpath(os.path.expanduser("~"))
    if parent == "/" or os.path.commonpath([parent, REPO]) == REPO:
        ap.error("the work directory must lie outside the repository and below /")
    if parent == home:
        ap.error("the work directory must not be the home directory itself")

    kelvo_src = args.kelvo
    if kelvo_src is None:
        build = os.path.join(REPO, "build", "bench")
        print(f"building kelvo in {build} ...", flush=True)
        subprocess.run(["cmake", "-S", REPO, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
                        "-DBUILD_TESTING=OFF"], check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", build, "-j", str(os.cpu_count() or 2), "--target", "kelvo"],
                       check=True, stdout=subprocess.DEVNULL)
        kelvo_src = os.path.join(build, "kelvo")

    started = time.perf_counter()
    work = Work(os.path.realpath(tempfile.mkdtemp(prefix="kelvo-bench.", dir=parent)))
    try:
        # The mask file lies beside the program; no rule file, so the
        # built-in rules apply.
        bindir = os.path.dirname(work.kelvo)
        os.makedirs(bindir)
        shutil.copy2(kelvo_src, work.kelvo)
        with open(os.path.join(bindir, "kelvo.TAB"), "wb") as f:
            f.write(b"".join(m.encode() + b"\r\n" for m in MASKS))
        samples = os.path.join(work.top, "bin-samples")
        os.makedirs(samples)
        shutil.copy2(kelvo_src, os.path.join(samples, "kelvo"))
        for name in ("KELVO.EXT", "KELVO.TAB"):
            shutil.copy2(os.path.join(REPO, "examples", name), os.path.join(samples, name))
        with_samples = [os.path.join(samples, "kelvo")]
        print(f"work directory {work.top}", flush=True)
        if args.network:
            network_figure(work, args, random.Random(args.seed))
            print(f"whole run {time.perf_counter() - started:.0f} s")
            return

        rng = random.Random(args.seed)
        tree = os.path.join(work.top, "tree")
        tree_plan = plan_tree(rng, args.dirs, args.files_per_dir, 5, False)
        clean = os.path.join(work.top, "clean")
        write_tree(clean, plan_tree(rng, args.dirs, args.files_per_dir, 5, True))
        if not args.scan_only:
            work.read_only[tree] = write_tree(tree, tree_plan)
            big = os.path.join(work.top, "flat-big")
            small = os.path.join(work.top, "flat-small")
            write_flat(big, args.flat // 2, rng)
            write_flat(small, args.flat // 4, rng)
        print(f"trees made in {time.perf_counter() - started:.1f} s", flush=True)

        clean_before = listing(clean)
        if set(expected_deletions(clean)):
            raise SystemExit("bench: the clean tree has files to delete")
        if not args.scan_only:
            deletion = Case(work, tree, "tree")
            flat_big = Case(work, big, "flat-big")
            flat_small = Case(work, small, "flat-small")
            print(f"tree: {len(deletion.before)} entries, {deletion.deleted} to delete; "
                  f"flat: {len(flat_big.before)} and {len(flat_small.before)} files", flush=True)

        scans = {"kelvo": [], "samples": [], "find": []}
        for n in range(args.rounds):
            if not args.scan_only:
                deletion.round(n)
                flat_big.round(n)
                flat_small.round(n)
            # Nothing to delete, so the scans run on the tree itself.
            order = ["kelvo", "samples", "find"]
            for who in (order if n % 2 == 0 else order[::-1]):
                if who == "find":
                    scans[who].append(timed(["find", ".", "-type", "f"], clean))
                else:
                    scans[who].append(timed(work.kelvo_argv(clean, with_samples if who == "samples" else None),
                                            clean))
            if n == 0 and listing(clean) != clean_before:
                raise SystemExit("bench: FAIL scan: kelvo changed a tree with nothing to delete")
            print(f"round {n + 1}/{args.rounds} done at {time.perf_counter() - started:.0f} s", flush=True)
        scan_k, scan_s, scan_f = scans["kelvo"], scans["samples"], scans["find"]

        if args.syscalls:
            if not args.scan_only:
                syscall_profile(work, tree, "deletion tree", len(deletion.before))
            syscall_profile(work, clean, "clean tree", len(clean_before))
            if not args.scan_only:
                syscall_profile(work, big, "flat directory", len(flat_big.before))

        rows = []

        def row(name, kt, ft, target, kmem, fmem, find_mem, list_kib):
            ratio = kt / ft
            mem_limit = 2 * find_mem + list_kib
            rows.append((name, f"{kt:.3f}", f"{ft:.3f}", f"{ratio:.2f}",
                         f"{'ok' if ratio <= target else 'OVER'} <={target}",
                         fmt_mem(kmem), fmt_mem(fmem),
                         "n/a" if not kmem else
                         f"{'ok' if kmem <= mem_limit else 'OVER'} <{fmt_mem(mem_limit)}"))

        def peak(runs, i=1):
            return max(r[i] for r in runs)

        if not args.scan_only:
            listing_kib = largest_listing_bytes(big) / 1024
            tree_listing_kib = largest_listing_bytes(tree) / 1024
            row(f"delete, tree {len(deletion.before) // 1000}k", deletion.kelvo_time(), deletion.floor_time(),
                1.25, peak(deletion.kelvo_runs), peak(deletion.floor_runs), peak(deletion.floor_runs, 2),
                tree_listing_kib)
        find_t = statistics.median(t for t, _ in scan_f)
        for label, runs in (("built-in rules", scan_k), ("sample files", scan_s)):
            row(f"scan, clean tree {len(clean_before) // 1000}k, {label}",
                statistics.median(t for t, _ in runs), find_t,
                1.1, peak(runs), peak(scan_f), peak(scan_f), largest_listing_bytes(clean) / 1024)
        if not args.scan_only:
            for c in (flat_big, flat_small):
                row(f"delete, flat {len(c.before) // 1000}k", c.kelvo_time(), c.floor_time(), 1.25,
                    peak(c.kelvo_runs), peak(c.floor_runs), peak(c.floor_runs, 2), listing_kib)

        head = ("case", "kelvo s", "floor s", "ratio", "target", "kelvo peak", "floor peak", "memory target")
        widths = [max(len(str(r[i])) for r in rows + [head]) for i in range(len(head))]
        print(f"\nmedians of {args.rounds} rounds; floor: find -delete plus xargs rm "
              f"(scan: find . -type f); memory target: 2 x find's peak + largest listing")
        for r in [head] + rows:
            print("  " + "  ".join(str(v).ljust(w) for v, w in zip(r, widths)))
        if not args.scan_only:
            growth = flat_big.kelvo_time() / flat_small.kelvo_time()
            print(f"  flat growth, kelvo {len(flat_big.before) // 1000}k / {len(flat_small.before) // 1000}k: "
                  f"{growth:.2f}  ({'ok' if growth <= 2.3 else 'OVER'} <=2.3)")
            print(f"  largest listing: flat {listing_kib:.0f} KiB, tree {tree_listing_kib:.1f} KiB")
        if not os.access(TIME, os.X_OK):
            print(f"  peaks need GNU time at {TIME} (Debian package time)")
        if args.wine:
            wine_figure(work, args, random.Random(args.seed + 1))
        print(f"whole run {time.perf_counter() - started:.0f} s")
    finally:
        if args.keep:
            print(f"kept {work.top}")
        else:
            for path in list(work.read_only):
                work.remove(path)
            subprocess.run(["rm", "-rf", "--one-file-system", work.top], check=True)


if __name__ == "__main__":
    main()
