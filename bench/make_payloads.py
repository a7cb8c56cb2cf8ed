#!/usr/bin/python3
"""Writes the benchmark payloads.

usage: make_payloads.py <out dir>

<out dir>/<n>mb for n in 8, 72 and 256: the package and the eight cabinets
with the sizes of a real kit (the 72 MB variant: about 72 MB of cabinets),
the cabinets scaled for the other two. The bytes are seeded and
incompressible, behind an "MSCF" signature; the seventh cabinet is the
36-byte header-only one. The output is the same on every run, and files
that are already right are left alone.
"""
import os
import random
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
import buildprofile  # noqa: E402

PROFILE = buildprofile.load()  # the file names of the default version
SEED = 20261210
PACKAGE = (PROFILE.package_file, 3 << 20)  # the package keeps its size in every variant
HEADER_ONLY = PROFILE.cabinets[6]  # the seventh cabinet holds no files
# file name, share of the cabinets in bytes of the 72 MB kit; table order
CABINETS = list(zip(PROFILE.cabinets, [14 << 20, 21 << 20, 17 << 20, 12 << 20, 1 << 20, 48 << 10, 36, 7 << 20]))
KIT_CABINET_BYTES = sum(size for _, size in CABINETS)
VARIANTS = (8, 72, 256)  # megabytes of cabinets


def header_only_cabinet():
    return b"MSCF" + struct.pack("<IIIII BB HHHHH", 0, 36, 0, 36, 0, 3, 1, 0, 0, 0, 0, 0)


def seeded_bytes(rng, size):
    """`size` bytes, "MSCF" first; the rest from the generator in 16 MB steps."""
    parts = [b"MSCF"]
    left = size - 4
    while left > 0:
        step = min(left, 16 << 20)
        parts.append(rng.randbytes(step))
        left -= step
    return b"".join(parts)


def sizes_for(megabytes):
    scale = (megabytes << 20) / KIT_CABINET_BYTES
    return [(name, size if name == HEADER_ONLY else max(64, int(size * scale))) for name, size in CABINETS]


def write_variant(folder, files):
    """files: (name, size, generator) in order. Skips a file of the right size
    written by an earlier run with the same seed (recorded in .seed)."""
    os.makedirs(folder, exist_ok=True)
    stamp = os.path.join(folder, ".seed")
    want = f"{SEED} " + " ".join(f"{name}:{size}" for name, size, _ in files) + "\n"
    try:
        with open(stamp) as f:
            if f.read() == want and all(os.path.getsize(os.path.join(folder, n)) == s for n, s, _ in files):
                return
    except OSError:
        pass
    for name, size, make in files:
        with open(os.path.join(folder, name), "wb") as f:
            f.write(make(size))
    with open(stamp, "w") as f:
        f.write(want)


def main(argv):
    if len(argv) != 2:
        sys.exit(__doc__)
    for megabytes in VARIANTS:
        rng = random.Random(SEED * 1000 + megabytes)
        files = [(PACKAGE[0], PACKAGE[1], lambda size: seeded_bytes(rng, size))]
        for name, size in sizes_for(megabytes):
            make = (lambda size: header_only_cabinet()) if name == HEADER_ONLY else \
                (lambda size: seeded_bytes(rng, size))
            files.append((name, size, make))
        write_variant(os.path.join(argv[1], f"{megabytes}mb"), files)


if __name__ == "__main__":
    main(sys.argv)
