#!/usr/bin/python3
"""Writes the payloads of the cabinet tests.

usage: make_payloads.py <sample payload dir> <out dir>

<out dir>/all: the sample package and eight cabinets of several MB each
(seeded, incompressible bytes behind an "MSCF" signature; the seventh a
36-byte header-only cabinet), so that a cabinet read before it is complete
shows. <out dir>/no7: the same without the seventh cabinet. The output is
the same on every run.
"""
import os
import random
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
import buildprofile  # noqa: E402

# Megabytes of each cabinet, in the order the program writes them (the
# build profile's table order); the seventh is the header-only one.
MEGABYTES = [8, 6, 5, 4, 3, 2, 0, 16]
HEADER_ONLY_INDEX = 6


def header_only_cabinet():
    # signature, reserved, cbCabinet, reserved, coffFiles, reserved,
    # version 1.3, no folders, no files, no flags, set 0, cabinet 0
    return b"MSCF" + struct.pack("<IIIII BB HHHHH", 0, 36, 0, 36, 0, 3, 1, 0, 0, 0, 0, 0)


def write_if_changed(path, data):
    """Leaves an unchanged file alone, so that the installers around it are
    not linked again."""
    try:
        with open(path, "rb") as f:
            if f.read() == data:
                return
    except FileNotFoundError:
        pass
    with open(path, "wb") as f:
        f.write(data)


def main(argv):
    if len(argv) != 3:
        sys.exit(__doc__)
    sample, out = argv[1], argv[2]
    profile = buildprofile.load()
    header_only = profile.cabinets[HEADER_ONLY_INDEX]
    rng = random.Random(20261210)
    with open(os.path.join(sample, profile.package_file), "rb") as f:
        package = f.read()
    for variant in ("all", "no7"):
        os.makedirs(os.path.join(out, variant), exist_ok=True)
        write_if_changed(os.path.join(out, variant, profile.package_file), package)
    for name, megabytes in zip(profile.cabinets, MEGABYTES):
        data = header_only_cabinet() if name == header_only else b"MSCF" + rng.randbytes(megabytes << 20)
        write_if_changed(os.path.join(out, "all", name), data)
        if name != header_only:
            write_if_changed(os.path.join(out, "no7", name), data)
    no7_cabinet = os.path.join(out, "no7", header_only)
    if os.path.exists(no7_cabinet):
        os.remove(no7_cabinet)


if __name__ == "__main__":
    main(sys.argv)
