#!/usr/bin/env python3
"""Writes the compressed forks of StuffIt archives as raw seeds for the
decoder fuzz targets, one file per fork, named by method, using unar's lsar
(an independent reader) to find them:

    fuzz/sit_seeds.py OUT_DIR ARCHIVE...
"""
import json
import os
import subprocess
import sys

out = sys.argv[1]
os.makedirs(out, exist_ok=True)
for path in sys.argv[2:]:
    listing = json.loads(subprocess.run(["lsar", "-j", path], capture_output=True, check=True).stdout)
    data = open(path, "rb").read()
    for i, entry in enumerate(listing["lsarContents"]):
        if "XADDataOffset" not in entry:
            continue
        start, size = entry["XADDataOffset"], entry["XADCompressedSize"]
        method = entry.get("StuffItCompressionMethod", 0) & 15
        name = f"method{method}-{os.path.basename(path)}-{i}.bin"
        with open(os.path.join(out, name), "wb") as f:
            f.write(data[start:start + size])
