#!/usr/bin/env python3
"""Damages real and builder documents and runs mwconv on each damaged copy.

    fuzz/mutate.py --mwconv build/mwconv [--count N] [--seed S] [--jobs J] SEED_DIR...

Each case damages one seed file (flipped bytes, a truncation, a zeroed block,
huge counts, a repeated or spliced block), picks an input and an output
format, and runs mwconv under a memory limit and a time limit, with its own
TMPDIR and an output file that already holds known bytes.  A case fails on a
crash, a hang, an exit status other than 0, 2, 3 or 4 (a damaged document,
recovered), a failure or a recovery without a message, a failure that changed
the existing output, a recovery that left it as it was, any file left
behind, or an output more than 64 times its input (inputs under 512 bytes
count as 512: a MacWrite document's frame alone is about 500 bytes).  The
count of recovered documents is printed: the damage must reach recovery.

Containers (seeds named "container-..." or kept in a folder whose name starts
with "containers": archives, disk images, BinHex...) are damaged the same way
and converted into an output folder, which must hold everything written: a file anywhere else
fails the case, and so does a link inside it.

The seed is printed; `--seed S --only I` replays case I alone.
"""
import argparse
import concurrent.futures
import os
import random
import resource
import shutil
import subprocess
import sys
import tempfile

TIME_LIMIT = 20          # seconds per case
MEMORY_LIMIT = 1 << 30   # bytes of address space
SENTINEL = b"the user's earlier file\n"
FROM = ["auto", "auto", "auto", "macwrite5", "macwrite-ii", "macwrite22", "stream", "text"]
TO = ["text", "stream", "macwrite5", "html", "markdown", "rtf", "docx", "odt"]


def damage(data, rng):
    data = bytearray(data)
    kind = rng.choice(["flip", "truncate", "zero", "count", "repeat", "splice"])
    if not data:
        return bytes(rng.randbytes(64)), "random"
    if kind == "flip":
        for _ in range(rng.randint(1, 16)):
            data[rng.randrange(len(data))] ^= 1 << rng.randrange(8)
    elif kind == "truncate":
        del data[rng.randrange(len(data)):]
    elif kind == "zero":
        start = rng.randrange(len(data))
        n = min(len(data) - start, rng.randint(1, 1024))
        data[start:start + n] = bytes(n)
    elif kind == "count":
        for _ in range(rng.randint(1, 4)):
            at = rng.randrange(0, max(1, min(len(data), 1024) - 4)) & ~1
            value = rng.choice([b"\xff\xff", b"\x7f\xff", b"\x80\x00", b"\x00\x00", b"\xff\xff\xff\xff"])
            data[at:at + len(value)] = value
    elif kind == "repeat":
        start = rng.randrange(len(data))
        block = data[start:start + rng.randint(1, 4096)]
        data[start:start] = block * rng.randint(1, 8)
    else:
        cut = rng.randrange(len(data))
        data[cut:cut + rng.randint(1, 4096)] = bytes(rng.randbytes(rng.randint(1, 256)))
    return bytes(data), kind


def is_container(path):
    return os.path.basename(path).startswith("container-") or os.path.basename(os.path.dirname(path)).startswith("containers")


def folder_size(folder):
    """Bytes of the files under `folder` and the links among them."""
    total, links = 0, []
    for root, dirs, names in os.walk(folder):
        for name in dirs + names:
            path = os.path.join(root, name)
            if os.path.islink(path):
                links.append(path)
            elif name in names:
                total += os.path.getsize(path)
    return total, links


def limit_resources():
    resource.setrlimit(resource.RLIMIT_AS, (MEMORY_LIMIT, MEMORY_LIMIT))
    resource.setrlimit(resource.RLIMIT_CORE, (0, 0))


def run_case(mwconv, seeds, master_seed, index):
    rng = random.Random(f"{master_seed}:{index}")
    seed_path = rng.choice(seeds)
    with open(seed_path, "rb") as f:
        original = f.read()
    data, kind = damage(original, rng)
    source, target = rng.choice(FROM), rng.choice(TO)
    work = tempfile.mkdtemp(prefix="mwconv-mutate-")
    try:
        tmp = os.path.join(work, "tmp")
        os.mkdir(tmp)
        doc = os.path.join(work, "doc")
        out = os.path.join(work, "out")
        with open(doc, "wb") as f:
            f.write(data)
        with open(out, "wb") as f:
            f.write(SENTINEL)
        container = is_container(seed_path)
        if container:
            os.remove(out)
            out = os.path.join(work, "out") + os.sep
            source = rng.choice(["auto", "macwrite5"])
        args = [mwconv, "-f", source, "-t", target, "-o", out, doc]
        what = f"case {index}: {kind} of {seed_path}, -f {source} -t {target}"
        try:
            p = subprocess.run(args, capture_output=True, timeout=TIME_LIMIT, preexec_fn=limit_resources,
                               env=dict(os.environ, TMPDIR=tmp))
        except subprocess.TimeoutExpired:
            return f"{what}: hung for {TIME_LIMIT} s"
        err = p.stderr.decode("utf-8", "replace").strip()
        problems = []
        if p.returncode < 0:
            problems.append(f"killed by signal {-p.returncode}")
        elif p.returncode not in (0, 2, 3, 4):
            problems.append(f"exit status {p.returncode}")
        if container:
            written, links = folder_size(out)
            result = None
            if p.returncode != 0 and not err.startswith("mwconv: "):
                problems.append("a failure or a recovery without a message")
            if links:
                problems.append(f"links written: {links}")
        else:
            with open(out, "rb") as f:
                result = f.read()
            written = len(result)
            if p.returncode != 0 and not err.startswith("mwconv: "):
                problems.append("a failure or a recovery without a message")
            if p.returncode in (2, 3) and result != SENTINEL:
                problems.append("a failure changed the existing output")
            if p.returncode == 4 and result == SENTINEL:
                problems.append("a recovery left no output")
        if p.returncode in (0, 4) and written > 64 * max(len(data), 512):
            problems.append(f"{written} bytes of output from {len(data)} of input")
        left = sorted(set(os.listdir(work)) - {"tmp", "doc", "out"}) + os.listdir(tmp)
        if left:
            problems.append(f"left behind: {left}")
        if problems:
            return f"{what}: {'; '.join(problems)} [{err[:200]}]"
        return p.returncode == 4
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mwconv", required=True)
    parser.add_argument("--count", type=int, default=5000)
    parser.add_argument("--seed", type=int, default=None)
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--only", type=int, default=None)
    parser.add_argument("seed_dirs", nargs="+")
    o = parser.parse_args()
    seed = o.seed if o.seed is not None else random.SystemRandom().randrange(1 << 31)
    seeds = sorted(os.path.join(root, name) for d in o.seed_dirs if os.path.isdir(d)
                   for root, _, names in os.walk(d) for name in names)
    if not seeds:
        sys.exit("mutate.py: no seed documents")
    cases = [o.only] if o.only is not None else range(o.count)
    print(f"mutation test: seed {seed}, {len(cases)} cases from {len(seeds)} documents", flush=True)
    failures = []
    recovered = 0
    with concurrent.futures.ThreadPoolExecutor(o.jobs) as pool:
        for problem in pool.map(lambda i: run_case(os.path.abspath(o.mwconv), seeds, seed, i), cases):
            if isinstance(problem, str):
                failures.append(problem)
                print(problem, flush=True)
            elif problem:
                recovered += 1
    print(f"{recovered} damaged documents recovered (exit status 4)")
    if failures:
        print(f"{len(failures)} of {len(cases)} cases failed; replay one with --seed {seed} --only N")
        sys.exit(1)
    print(f"all {len(cases)} cases passed")


if __name__ == "__main__":
    main()
