#!/usr/bin/python3
"""Writes the sample kit's archives into a folder, each named by its File key.

usage: make-content.py <dir> small|large|huge

The archives are real zip files with fixed dates, so that two builds give the
same bytes. The large variant fills them with about 72 MB of incompressible
bytes from a fixed seed, as much as a real kit carries; the huge variant, for
the benchmark, with about 256 MB."""
import random
import sys
import zipfile

MB = 1024 * 1024
# File key -> (member name, size of its random member in the large variant)
ARCHIVES = {
    "demo_basic.zip": ("demo/basic.dat", 10 * MB),
    "demo_advanced.zip": ("demo/advanced.dat", 14 * MB),
    "src.zip": ("src/sources.dat", 24 * MB),
    "tools.zip": ("tools/tools.dat", 24 * MB),
}
# How many times the sizes above each variant with random members carries.
SCALE = {"large": 1, "huge": 256 / 72}


def main():
    folder, variant = sys.argv[1], sys.argv[2]
    generator = random.Random(4201700)
    for key, (member, size) in ARCHIVES.items():
        if variant in SCALE:
            content = generator.randbytes(int(size * SCALE[variant]))
        else:
            content = ("%s of the sample kit\n" % member).encode() * 8
        info = zipfile.ZipInfo(member, date_time=(2026, 1, 1, 0, 0, 0))
        info.compress_type = zipfile.ZIP_STORED
        with zipfile.ZipFile("%s/%s" % (folder, key), "w") as archive:
            archive.writestr(info, content)


if __name__ == "__main__":
    main()
