"""Whole collections converted on a dask.distributed cluster.

    from dask.distributed import Client, LocalCluster
    import mwconv.dask
    with LocalCluster(n_workers=4, threads_per_worker=1) as cluster, Client(cluster) as client:
        summary = mwconv.dask.convert_tree(["/archive/floppies"], "/archive/html", to="html", client=client)
    print(summary)            # 998 converted, 1 not MacWrite, 1 failed
    for failure in summary.failed:
        print(failure.message)

One task per file: a file named among the inputs, or every file of a folder
walked (hidden files and __MACOSX skipped, as the command does); a container
(disk image, archive, BinHex, MacBinary) is one task that converts every
document inside.  Outputs are named as `mwconv -o OUTPUT INPUTS...` names
them (the input's path below its folder, the format's extension added), or
written beside each input when `output` is None.  Failures are collected in
the summary, never raised: a damaged document does not stop a collection.
Every worker must see the inputs and the output folder at the same paths
(shared storage).
"""

import os
from dataclasses import dataclass, field
from typing import List

import mwconv

__all__ = ["plan", "convert_tree", "convert_one", "Result", "Summary"]


@dataclass
class Result:
    input: str
    output: str
    status: int            # the command's exit status for this file or member: 0, 2, 3 or 4
    message: str = ""      # the command's message, "mwconv: FILE: problem"
    found: bool = True     # found in a folder walked, rather than named
    # "converted", "damaged" (converted with what could be read, status 4),
    # "skipped" (not MacWrite), "failed"; for a container's members also
    # "other" (not MacWrite, inside a container) and "note".
    kind: str = "converted"


@dataclass
class Summary:
    results: List[Result] = field(default_factory=list)
    containers: int = 0    # containers walked as folders

    def _of(self, kind):
        return [r for r in self.results if r.kind == kind]

    @property
    def converted(self):
        return self._of("converted")

    @property
    def damaged(self):
        return self._of("damaged")

    @property
    def skipped(self):
        return self._of("skipped")

    @property
    def failed(self):
        return self._of("failed")

    @property
    def status(self):
        """The command's exit status for the run: what is not MacWrite among
        the files of a folder walked does not count; a failure outweighs a
        document that was not one, which outweighs a damaged one (4)."""
        rank = {0: 0, 4: 1}
        worst = 0
        for r in self.results:
            if r.kind in ("failed", "damaged") or (r.kind == "skipped" and not r.found):
                if rank.get(r.status, r.status + 1) >= rank.get(worst, worst + 1):
                    worst = r.status
        return worst

    def __str__(self):
        damaged = f"{len(self.damaged)} damaged, " if self.damaged else ""
        line = f"{len(self.converted)} converted, {damaged}{len(self.skipped)} not MacWrite, {len(self.failed)} failed"
        if self.containers:
            other = len(self._of("other"))
            line += (f", {other} other file{'' if other == 1 else 's'} in {self.containers} "
                     f"container{'' if self.containers == 1 else 's'}")
        return line


def _hidden(name):
    return name.startswith(".") or name == "__MACOSX"


def _walk(root):
    found = []
    for folder, dirs, files in os.walk(root):
        dirs[:] = [d for d in dirs if not _hidden(d)]
        for name in files:
            path = os.path.join(folder, name)
            if not _hidden(name) and os.path.isfile(path):
                found.append((path, os.path.relpath(path, root)))
    # Sorted by the path below the folder, as the command orders a folder.
    found.sort(key=lambda item: item[1].encode("utf-8", "surrogateescape"))
    return found


def plan(inputs, output=None, to="html"):
    """(input, output, found, refusal) for every file of `inputs` (paths of
    files or folders): outputs under the folder `output` as the command names
    them, or beside the inputs when `output` is None.  `refusal` says why a
    file whose output another file takes already is not converted."""
    if isinstance(inputs, (str, os.PathLike)):
        inputs = [inputs]
    extension = "." + mwconv.EXTENSIONS[to]
    jobs, taken = [], set()
    for given in map(os.fspath, inputs):
        if os.path.isdir(given):
            files = [(path, relative, True) for path, relative in _walk(given)]
        else:
            files = [(given, os.path.basename(given), False)]
        for path, relative, found in files:
            target = path + extension if output is None else os.path.join(output, relative) + extension
            key = os.path.normpath(os.path.abspath(target))
            refusal = f"its output {target} is another input's output too; not converted" if key in taken else ""
            taken.add(key)
            jobs.append((path, target, found, refusal))
    return jobs


def _container(path, target, found, root, force, options):
    """The results of a container's members, or None for a file that is no container."""
    folder = target[: -len("." + mwconv.EXTENSIONS[options["to"]])]
    run = mwconv.convert_container(path, folder, force=force, output_root=root or os.path.dirname(folder), **options)
    if run is None:
        return None
    walked, members = run
    results = []
    for kind, status, message in members:
        if kind == "alone":
            # As a bare file: skipped in a folder, counted when named.
            kind = "skipped"
            if found:
                message = message[: message.rfind(": ") + 2] + "skipped: " + message[message.rfind(": ") + 2:]
        results.append(Result(path, folder, status, message, found, kind))
    return results, walked


def convert_one(path, target, found=True, refusal="", force=False, root=None, **options):
    """Converts one file (or every document of one container) on a worker:
    (results, walked), never an exception."""
    try:
        options.setdefault("to", "html")
        contained = _container(path, target, found, root, force, options)
        if contained is not None:
            return contained
        if refusal or (not force and os.path.lexists(target)):
            refusal = refusal or f"{target} exists already (force=True replaces it); not converted"
            return [Result(path, target, 3, f"mwconv: {path}: {refusal}", found, "failed")], False
        os.makedirs(os.path.dirname(target) or ".", exist_ok=True)
        to = options.pop("to")
        if options.get("extract_media") and root:
            # Each document's pictures in a folder named after its output, as
            # the command's batch mirrors it, less the extension.
            relative = os.path.splitext(os.path.relpath(target, root))[0]
            options["extract_media"] = os.path.join(options["extract_media"], relative)
        _, damaged = mwconv._convert_file(path, to, target, options.pop("source", "auto"), options.pop("fragment", False),
                                          options.pop("macbinary", False), options.pop("extract_media", None), options)
        if damaged:
            return [Result(path, target, 4, damaged, found, "damaged")], False
        return [Result(path, target, 0, "", found, "converted")], False
    except mwconv.NotMacWrite as e:
        message = f"mwconv: {path}: skipped: not a MacWrite document" if found else str(e)
        return [Result(path, target, e.status, message, found, "skipped")], False
    except mwconv.Error as e:
        return [Result(path, target, e.status, str(e), found, "failed")], False
    except Exception as e:  # a worker's own trouble (memory, a lost file) is one file's failure
        return [Result(path, target, 3, f"mwconv: {path}: {e}", found, "failed")], False


def convert_tree(inputs, output=None, to="html", client=None, force=False, batch_size=1, **options):
    """Converts every file of `inputs` on the cluster of `client` (by default
    the current one); returns a Summary with one Result per file or member.

    `options` are convert_file's (source, fragment, macbinary,
    extract_media).  Each file is one task; `batch_size` > 1 sends files to
    the workers in groups, for collections so large that a task per file
    would weigh on the scheduler.
    """
    from dask.distributed import default_client

    client = client or default_client()
    jobs = plan(inputs, output, to)
    summary = Summary()
    if not jobs:
        return summary
    batches = [jobs[i:i + batch_size] for i in range(0, len(jobs), batch_size)]
    futures = client.map(_convert_batch, batches, force=force, root=output, options=dict(options, to=to), pure=False)
    for future, batch in zip(futures, batches):
        try:
            done = future.result()
        except Exception as e:  # a worker lost with its batch: each of its files failed
            done = [([Result(path, target, 3, f"mwconv: {path}: {e}", found, "failed")], False)
                    for path, target, found, _ in batch]
        for results, walked in done:
            summary.results.extend(results)
            summary.containers += 1 if walked else 0
    return summary


def _convert_batch(batch, force, root, options):
    return [convert_one(path, target, found, refusal, force=force, root=root, **options)
            for path, target, found, refusal in batch]
