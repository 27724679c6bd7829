#!/usr/bin/env python3
"""Writes the compressed chunks of UDIF images as raw seeds for the decoder
fuzz targets, one file per chunk, named by its chunk type (80000007 for
LZFSE), reading the images' block tables with Python's own plistlib:

    fuzz/udif_seeds.py OUT_DIR IMAGE...
"""
import os
import plistlib
import struct
import sys

out = sys.argv[1]
os.makedirs(out, exist_ok=True)
for path in sys.argv[2:]:
    data = open(path, "rb").read()
    trailer = data[-512:]
    if trailer[:4] != b"koly":
        continue
    data_at = struct.unpack(">Q", trailer[24:32])[0]
    plist_at, plist_length = struct.unpack(">QQ", trailer[216:232])
    tables = plistlib.loads(data[plist_at:plist_at + plist_length])["resource-fork"]["blkx"]
    for t, table in enumerate(tables):
        mish = table["Data"]
        base = struct.unpack(">Q", mish[24:32])[0]
        for i in range(struct.unpack(">I", mish[200:204])[0]):
            kind, _, _, _, at, length = struct.unpack(">IIQQQQ", mish[204 + 40 * i:244 + 40 * i])
            if kind & 0x80000000 and kind != 0xFFFFFFFF and length > 0:
                name = f"{kind:08x}-{os.path.basename(path)}-{t}-{i}.bin"
                with open(os.path.join(out, name), "wb") as f:
                    f.write(data[data_at + base + at:data_at + base + at + length])
