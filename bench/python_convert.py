#!/usr/bin/env python3
"""1,000 small documents (the builders' seeds and the bundled example, copied
round) converted to HTML: through mwconv.convert in this one process, and by
starting the command once per document.  Prints both times and the ratio;
exits 1 when the module is not at least 5 times faster.
    /usr/bin/python3 bench/python_convert.py [BUILD_DIR]"""

import os
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

root = Path(__file__).resolve().parent.parent
build = Path(sys.argv[1] if len(sys.argv) > 1 else root / "build").resolve()
sys.path.insert(0, str(build / "python"))
import mwconv  # noqa: E402

with tempfile.TemporaryDirectory() as work:
    work = Path(work)
    (work / "seeds").mkdir()
    subprocess.run([str(build / "make_seeds"), str(work / "seeds")], check=True)
    shutil.copy(root / "examples" / "welcome.mw5", work / "seeds")
    seeds = sorted(p for p in (work / "seeds").iterdir() if not p.name.startswith("container-"))
    documents = [seeds[i % len(seeds)].read_bytes() for i in range(1000)]

    def best(run, rounds=3):
        times = []
        for _ in range(rounds):
            start = time.perf_counter()
            run()
            times.append(time.perf_counter() - start)
        return min(times)

    def module():
        for data in documents:
            mwconv.convert(data, to="html")

    def command():
        for data in documents:
            subprocess.run([str(build / "mwconv"), "-t", "html", "-"], input=data, stdout=subprocess.DEVNULL,
                           check=True)

    module()  # loads the plug-in
    ours, theirs = best(module), best(command)
    print(f"mwconv.convert, one process: {ours:.3f} s for 1,000 documents ({ours / 1000:.6f} s each)")
    print(f"mwconv, a process each:      {theirs:.3f} s for 1,000 documents ({theirs / 1000:.6f} s each)")
    print(f"the module is {theirs / ours:.1f} times faster")
    sys.exit(0 if theirs / ours >= 5 else 1)
