#!/usr/bin/python3
"""Writes the sample payload renamed for another version of the kit.

usage: make_version_payload.py <sample payload dir> <version> <out dir>

The package and the eight cabinets of the sample, under the names the build
profile gives <version>; the package's Media table names the renamed
cabinets (msibuild), so that the payload check passes. Files are only
rewritten when their bytes change. <out dir>/.made marks a finished run.
"""
import os
import shutil
import subprocess
import sys
import tempfile

from make_payloads import write_if_changed

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
import buildprofile  # noqa: E402


def main(argv):
    if len(argv) != 4:
        sys.exit(__doc__)
    sample_dir, version, out = argv[1:]
    sample, target = buildprofile.load(), buildprofile.load(version)
    os.makedirs(out, exist_ok=True)
    with tempfile.TemporaryDirectory() as scratch:
        package = os.path.join(scratch, target.package_file)
        shutil.copyfile(os.path.join(sample_dir, sample.package_file), package)
        for old, new in zip(sample.cabinets, target.cabinets):
            subprocess.run(["msibuild", package, "-q", f"UPDATE Media SET Cabinet='{new}' WHERE Cabinet='{old}'"],
                           check=True)
        with open(package, "rb") as f:
            write_if_changed(os.path.join(out, target.package_file), f.read())
    for old, new in zip(sample.cabinets, target.cabinets):
        with open(os.path.join(sample_dir, old), "rb") as f:
            write_if_changed(os.path.join(out, new), f.read())
    with open(os.path.join(out, ".made"), "w") as f:
        f.write(version + "\n")


if __name__ == "__main__":
    main(sys.argv)
