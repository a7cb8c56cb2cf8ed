"""The header checksum of a PE image, as pefile's generate_checksum computes
it, in a fraction of the time: used by tools/align_resource_section.py when
it writes an image and by tests/image/check_image.py when it checks one."""


def header_checksum(pe):
    """The header checksum of the image as pefile's generate_checksum
    computes it: the file's dwords (the checksum's own left out, the last one
    padded with zeros) added with end-around carry, folded to 16 bits, plus
    the file's length. pefile adds them one by one, seconds for tens of MB;
    here the sum is one big-number remainder: 2**32 is 1 modulo 2**32 - 1,
    so the file read as one little-endian number leaves the dwords' sum."""
    data = bytearray(pe.write())
    length = len(data)
    field = (pe.OPTIONAL_HEADER.get_file_offset() + 0x40) // 4 * 4
    data[field:field + 4] = bytes(4)
    data += bytes(-length % 4)
    total = int.from_bytes(data, "little")
    carried = 0 if total == 0 else total % 0xFFFFFFFF or 0xFFFFFFFF
    folded = (carried & 0xFFFF) + (carried >> 16)
    folded = (folded + (folded >> 16)) & 0xFFFF
    return folded + length
