#!/usr/bin/python3
"""Moves the resource section of a linked executable to a page boundary of
the file.

usage: align_resource_section.py <exe>

The payload (tens of MB) lives in the resource section. A loader maps a
section straight from the file only when its file offset is a multiple of
the page size; otherwise (Wine does this) it reads the whole section into
private memory when the program starts, so that the program's memory grows
with the payload and its start waits for the read. The linker aligns
sections in the file to 512 bytes only. Zero bytes are inserted before the
section's data and the offsets of it and of the sections after it are
moved; nothing in memory changes, since the image's virtual layout stays as
it was. The header checksum is computed again. Running it twice changes
nothing the second time.
"""
import sys

import pefile

from pe_checksum import header_checksum

PAGE = 4096


def main(argv):
    if len(argv) != 2:
        sys.exit(__doc__)
    path = argv[1]
    pe = pefile.PE(path, fast_load=True)
    rsrc = next((s for s in pe.sections if s.Name.rstrip(b"\0") == b".rsrc"), None)
    if rsrc is None or rsrc.PointerToRawData % PAGE == 0:
        return
    if pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]].Size:
        sys.exit(f"{path}: signed; align before signing")
    start = rsrc.PointerToRawData
    pad = -start % PAGE
    for section in pe.sections:
        if section.PointerToRawData >= start:
            section.PointerToRawData += pad
    pe.OPTIONAL_HEADER.CheckSum = 0
    data = bytearray(pe.write())
    data[start:start] = bytes(pad)
    pe.close()
    aligned = pefile.PE(data=bytes(data), fast_load=True)
    aligned.OPTIONAL_HEADER.CheckSum = header_checksum(aligned)
    result = aligned.write()
    with open(path, "wb") as f:
        f.write(result)


if __name__ == "__main__":
    main(sys.argv)
