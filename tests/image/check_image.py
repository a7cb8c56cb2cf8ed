#!/usr/bin/python3
"""Checks on the built executable image.

usage: check_image.py imports|manifest|lean|messages|icon|layout <exe>
       check_image.py identity <exe> <version>
       check_image.py resources <exe> <payload dir>
       check_image.py resource-bytes <exe> <type> <id> <file>
"""
import os
import struct
import sys
import xml.etree.ElementTree as ET

import pefile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from pe_checksum import header_checksum  # noqa: E402

# The only static imports. On Windows these are known DLLs; under Wine what
# they bring in is loaded before the program's first line, so each one more
# (user32 brought version and imm32) is a DLL name searched for beside the
# program. Everything else is loaded at run time by full path.
STATIC_IMPORTS = {"kernel32.dll", "advapi32.dll", "msvcrt.dll"}
RT_ICON, RT_STRING, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 6, 14, 16, 24
ENGLISH = 1033
HERE = os.path.dirname(os.path.abspath(__file__))

# Every payload file and the resource key the program finds it under.
PAYLOAD_KEYS = {
    "pmx4.2.0_17.msi": ("ORVA_INSTALLER", 101),
    "sd420170.cab": ("ORVA_CAB6", 107),
    "ss420170.cab": ("ORVA_CAB9", 110),
    "st420170.cab": ("ORVA_CAB10", 111),
    "sj420170.cab": ("ORVA_CAB7", 108),
    "sp420170.cab": ("ORVA_CAB8", 109),
    "sz420170.cab": ("ORVA_CAB11", 112),
    "sb420170.cab": ("ORVA_CAB12", 113),
    "sr420170.cab": ("ORVA_CAB13", 114),
}
# What the manifest of a build for each version says: version, assembly name
# (the product kind and the major number), description.
IDENTITIES = {
    "4.2.0_17": ("4.2.0.17", "pmx4.windows-amd64", "Orva Development Kit 4.2.0_17 installer"),
    "4.2.0_18": ("4.2.0.18", "pmx4.windows-amd64", "Orva Development Kit 4.2.0_18 installer"),
    "5.0.1_3": ("5.0.1.3", "pmx5.windows-amd64", "Orva Development Kit 5.0.1_3 installer"),
}
ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def imported_dlls(pe):
    pe.parse_data_directories()
    entries = list(getattr(pe, "DIRECTORY_ENTRY_IMPORT", []))
    entries += list(getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", []))
    return {entry.dll.decode().lower(): entry for entry in entries}


def check_imports(pe):
    dlls = imported_dlls(pe)
    extra = set(dlls) - STATIC_IMPORTS
    if extra:
        fail(f"imports beyond {sorted(STATIC_IMPORTS)}: {sorted(extra)}")
    # Looked up at run time from the system directory, never imported.
    names = {imp.name.decode() for entry in dlls.values() for imp in entry.imports if imp.name}
    for name in ("GetFileVersionInfoA", "VerQueryValueA", "SetDllDirectoryA", "SetDefaultDllDirectories",
                 "SHGetFolderPathA"):
        if name in names:
            fail(f"{name} is imported statically")
    # Every run-time load goes through LoadLibraryExA with the altered search
    # (support/sysload.cpp), so that a loaded DLL's own imports come from the
    # system directory as well.
    for name in ("LoadLibraryA", "LoadLibraryW"):
        if name in names:
            fail(f"{name} is imported: a load without the altered search path")
    print("imports:", ", ".join(sorted(dlls)))


def resources(pe):
    """{(type, name): [(language, bytes)]} with string types as str, ids as int."""
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    found = {}
    directory = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for rtype in directory.entries if directory is not None else []:
        type_key = str(rtype.name) if rtype.name is not None else rtype.id
        for rname in rtype.directory.entries:
            name_key = str(rname.name) if rname.name is not None else rname.id
            for rlang in rname.directory.entries:
                data = rlang.data.struct
                blob = pe.get_data(data.OffsetToData, data.Size)
                found.setdefault((type_key, name_key), []).append((rlang.id, blob))
    return found


def check_manifest(pe):
    items = resources(pe).get((RT_MANIFEST, 1))
    if not items:
        fail("no manifest resource 1")
    root = ET.fromstring(items[0][1])
    level = root.find(f"{ASM_V3}trustInfo/{ASM_V3}security/{ASM_V3}requestedPrivileges/{ASM_V3}requestedExecutionLevel")
    if items[0][0] != ENGLISH:
        fail(f"manifest in language {items[0][0]}")
    if level is None or level.get("level") != "requireAdministrator" or level.get("uiAccess") != "false":
        fail("requestedExecutionLevel is not requireAdministrator without uiAccess")
    # A supportedOS list would make Windows 8 and later report version 10,
    # and the staging folder would move away from where the package looks.
    if b"supportedOS" in items[0][1] or b"compatibility" in items[0][1]:
        fail("the manifest declares supported operating systems")
    identity = root.find(f"{ASM_V1}assemblyIdentity")
    if identity is None or identity.get("type") != "win32" or identity.get("processorArchitecture") != "X86":
        fail("assemblyIdentity is not win32/X86")
    print("manifest: requireAdministrator, no supportedOS")


def check_identity(pe, version):
    """The manifest of a build for `version`: its assembly's version and
    name, its description, and everything `manifest` checks."""
    if version not in IDENTITIES:
        fail(f"no expected manifest for version {version}")
    check_manifest(pe)
    root = ET.fromstring(resources(pe)[(RT_MANIFEST, 1)][0][1])
    identity = root.find(f"{ASM_V1}assemblyIdentity")
    got = (identity.get("version"), identity.get("name"), root.findtext(f"{ASM_V1}description"))
    if got != IDENTITIES[version]:
        fail(f"manifest version, name and description {got}, expected {IDENTITIES[version]}")
    print(f"identity: {got}")


def check_resources(pe, payload_dir):
    """Each payload file present is embedded, byte for byte, under its key in
    English, and nothing else under the payload's types."""
    found = resources(pe)
    for file_name, key in PAYLOAD_KEYS.items():
        path = os.path.join(payload_dir, file_name)
        items = found.get(key)
        if not os.path.exists(path):
            if items:
                fail(f"resource {key} embedded although {file_name} is not in the payload")
            continue
        if not items:
            fail(f"resource {key} missing")
        if [language for language, _ in items] != [ENGLISH]:
            fail(f"resource {key} in languages {[language for language, _ in items]}, not {ENGLISH} alone")
        with open(path, "rb") as f:
            if items[0][1] != f.read():
                fail(f"resource {key} differs from {path}")
    stray = [key for key in found if isinstance(key[0], str) and key not in PAYLOAD_KEYS.values()]
    if stray:
        fail(f"resources under unknown keys: {stray}")
    if any(key[0] == RT_VERSION for key in found):
        fail("the executable has a version resource")
    print("resources:", sorted(str(k) for k in found))


def string_table_entry(blob, index):
    """String `index` of a string table block: 16 counted UTF-16 strings."""
    pos = 0
    for i in range(16):
        (length,) = struct.unpack_from("<H", blob, pos)
        pos += 2
        if i == index:
            return blob[pos:pos + 2 * length].decode("utf-16-le")
        pos += 2 * length
    return None


def check_messages(pe):
    """Message string 4 in every language, exactly as message4.txt has it."""
    expected = {}
    with open(os.path.join(HERE, "message4.txt"), encoding="utf-8") as f:
        for line in f:
            if not line.startswith("#"):
                language, text = line.rstrip("\n").split("\t", 1)
                expected[int(language)] = text
    # String 4 lives in block 1 of the string table.
    got = {language: string_table_entry(blob, 4) for language, blob in resources(pe).get((RT_STRING, 1), [])}
    if sorted(got) != sorted(expected):
        fail(f"string 4 in languages {sorted(got)}, expected {sorted(expected)}")
    for language, text in expected.items():
        if got[language] != text:
            fail(f"string 4 in language {language}: {got[language]!r}, expected {text!r}")
    print(f"messages: string 4 in {len(got)} languages")


def check_icon(pe):
    """Icon group 115 of twelve images, ids 1 to 12, 16 to 256 pixels in 32-bit
    and 8-bit colour, the 256-pixel ones as PNG, all in English."""
    found = resources(pe)
    groups = [key for key in found if key[0] == RT_GROUP_ICON]
    if groups != [(RT_GROUP_ICON, 115)]:
        fail(f"icon groups {groups}, expected 115 alone")
    (language, group), = found[(RT_GROUP_ICON, 115)]
    if language != ENGLISH:
        fail(f"icon group in language {language}")
    reserved, kind, count = struct.unpack_from("<HHH", group)
    entries = [struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i) for i in range(count)]
    ids = sorted(entry[7] for entry in entries)
    icons = {key[1]: items for key, items in found.items() if key[0] == RT_ICON}
    if ids != list(range(1, 13)) or sorted(icons) != ids:
        fail(f"icon images {sorted(icons)}, group lists {ids}; expected 1 to 12")
    sizes = set()
    for width, height, _, _, _, depth, size, icon_id in entries:
        side = width or 256
        (image_language, image), = icons[icon_id]
        if image_language != ENGLISH or len(image) != size:
            fail(f"icon image {icon_id}: language {image_language}, {len(image)} bytes for {size}")
        if (side == 256) != image.startswith(b"\x89PNG"):
            fail(f"icon image {icon_id} ({side} pixels) is {'not ' if side == 256 else ''}PNG")
        sizes.add((side, depth))
    sides = {side for side, _ in sizes}
    if min(sides) != 16 or max(sides) != 256 or any((side, depth) not in sizes for side in sides for depth in (8, 32)):
        fail(f"icon sizes and depths {sorted(sizes)}")
    print(f"icon: group 115, images 1 to 12, {sorted(sides)} pixels in 32-bit and 8-bit colour")


def check_resource_bytes(pe, rtype, rid, path):
    items = resources(pe).get((rtype, int(rid)))
    if not items:
        fail(f"resource {rtype} {rid} missing")
    with open(path, "rb") as f:
        if items[0][1] != f.read():
            fail(f"resource {rtype} {rid} differs from {path}")


def check_lean(path, pe):
    size = os.path.getsize(path)
    if size >= 100 * 1024:
        fail(f"{size} bytes without payload")
    if pe.OPTIONAL_HEADER.Subsystem != 2:
        fail("not a GUI-subsystem executable")
    if pe.FILE_HEADER.Machine != 0x8664:
        fail("not an x86-64 image")
    print(f"lean: {size} bytes, GUI subsystem, x86-64")


def check_layout(pe):
    """The resource section starts on a page of the file, so that the payload
    is mapped rather than read into memory, and the checksum still holds."""
    rsrc = next(s for s in pe.sections if s.Name.rstrip(b"\0") == b".rsrc")
    if rsrc.PointerToRawData % 4096:
        fail(f"the resource section starts at file offset {rsrc.PointerToRawData:#x}, not on a 4096-byte page")
    if pe.OPTIONAL_HEADER.CheckSum != header_checksum(pe):
        fail("the header checksum does not match the file")
    print(f"layout: resources at file offset {rsrc.PointerToRawData:#x}, checksum valid")


def main(argv):
    if len(argv) < 3:
        fail(__doc__)
    what, path = argv[1], argv[2]
    pe = pefile.PE(path, fast_load=True)
    if what == "imports":
        check_imports(pe)
    elif what == "manifest":
        check_manifest(pe)
    elif what == "identity" and len(argv) == 4:
        check_identity(pe, argv[3])
    elif what == "resources" and len(argv) == 4:
        check_resources(pe, argv[3])
    elif what == "resource-bytes" and len(argv) == 6:
        check_resource_bytes(pe, argv[3], argv[4], argv[5])
    elif what == "layout":
        check_layout(pe)
    elif what == "messages":
        check_messages(pe)
    elif what == "icon":
        check_icon(pe)
    elif what == "lean":
        check_lean(path, pe)
    else:
        fail(__doc__)


if __name__ == "__main__":
    main(sys.argv)
