"""Whole collections converted on a dask.distributed cluster.

    from dask.distributed import Client, LocalCluster
    import mwconv.dask
    with LocalCluster(n_workers=4, threads_per_worker=1) as cluster, Client(cluster) as client:
        summary = mwconv.dask.convert_tree(["/archive/floppies"], "/archive/html", to="html", client=client)
    print(summary)            # 998 converted, 1 not MacWrite, 1 failed
    for failure in summary.failed:
        print(failure.message)

One task per file: a file named among the inputs, or every file of a folder
walked (hidden files and __MACOSX skipped, as the command does).  Outputs are
named as `mwconv -o OUTPUT INPUTS...` names them (the input's path below its
folder, the format's extension added), or written beside each input when
`output` is None.  Failures are collected in the summary, never raised: one
damaged document does not stop a collection.  Every worker must see the
inputs and the output folder at the same paths (shared storage).
"""

import os
from dataclasses import dataclass, field
from typing import List, Optional

import mwconv

__all__ = ["plan", "convert_tree", "convert_one", "Result", "Summary"]


@dataclass
class Result:
    input: str
    output: str
    status: int            # the command's exit status for this file: 0, 2 or 3
    message: str = ""      # the command's message, "mwconv: FILE: problem"
    found: bool = True     # found in a folder walked, rather than named


@dataclass
class Summary:
    results: List[Result] = field(default_factory=list)

    @property
    def converted(self):
        return [r for r in self.results if r.status == 0]

    @property
    def skipped(self):
        return [r for r in self.results if r.status == 2]

    @property
    def failed(self):
        return [r for r in self.results if r.status not in (0, 2)]

    @property
    def status(self):
        """The command's exit status for the run: a file found in a folder
        that is not MacWrite does not count."""
        worst = 0
        for r in self.results:
            if r.status != 2 or not r.found:
                worst = max(worst, r.status)
        return worst

    def __str__(self):
        return (f"{len(self.converted)} converted, {len(self.skipped)} not MacWrite, "
                f"{len(self.failed)} failed")


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
    """(input, output, found) for every file of `inputs` (paths of files or
    folders): outputs under the folder `output` as the command names them,
    or beside the inputs when `output` is None."""
    if isinstance(inputs, (str, os.PathLike)):
        inputs = [inputs]
    extension = "." + mwconv.EXTENSIONS[to]
    jobs = []
    for given in map(os.fspath, inputs):
        if os.path.isdir(given):
            files = [(path, relative, True) for path, relative in _walk(given)]
        else:
            files = [(given, os.path.basename(given), False)]
        for path, relative, found in files:
            target = path + extension if output is None else os.path.join(output, relative) + extension
            jobs.append((path, target, found))
    return jobs


def convert_one(path, target, found=True, force=False, **options):
    """Converts one file on a worker; a Result, never an exception."""
    if not force and os.path.lexists(target):
        return Result(path, target, 3, f"mwconv: {path}: {target} exists already (force=True replaces it); not converted",
                      found)
    try:
        os.makedirs(os.path.dirname(target) or ".", exist_ok=True)
        mwconv.convert_file(path, output=target, **options)
        return Result(path, target, 0, "", found)
    except mwconv.Error as e:
        return Result(path, target, e.status, str(e), found)
    except Exception as e:  # a worker's own trouble (memory, a lost file) is one file's failure
        return Result(path, target, 3, f"mwconv: {path}: {e}", found)


def convert_tree(inputs, output=None, to="html", client=None, force=False, batch_size=1, **options):
    """Converts every file of `inputs` on the cluster of `client` (by default
    the current one); returns a Summary with one Result per file.

    `options` are convert_file's (source, fragment, macbinary).  Each file
    is one task; `batch_size` > 1 sends files to the workers in groups, for
    collections so large that a task per file would weigh on the scheduler.
    """
    from dask.distributed import default_client

    client = client or default_client()
    jobs = plan(inputs, output, to)
    if not jobs:
        return Summary()
    batches = [jobs[i:i + batch_size] for i in range(0, len(jobs), batch_size)]
    futures = client.map(_convert_batch, batches, force=force, to=to, options=options, pure=False)
    summary = Summary()
    for future, batch in zip(futures, batches):
        try:
            summary.results.extend(future.result())
        except Exception as e:  # a worker lost with its batch: each of its files failed
            summary.results.extend(Result(path, target, 3, f"mwconv: {path}: {e}", found)
                                   for path, target, found in batch)
    return summary


def _convert_batch(batch, force, to, options):
    return [convert_one(path, target, found, force=force, to=to, **options) for path, target, found in batch]
