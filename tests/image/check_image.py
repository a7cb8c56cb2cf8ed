#!/usr/bin/python3
"""Checks on the built executable image.

usage: check_image.py imports|manifest|lean <exe>
       check_image.py resources <exe> <payload dir>
       check_image.py resource-bytes <exe> <type> <id> <file>
"""
import os
import sys
import xml.etree.ElementTree as ET

import pefile

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "advapi32.dll", "msvcrt.dll"}
RT_STRING, RT_VERSION, RT_MANIFEST = 6, 16, 24
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
    extra = set(dlls) - SYSTEM_DLLS
    if extra:
        fail(f"imports beyond the system's DLLs: {sorted(extra)}")
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


def check_resources(pe, payload_dir):
    found = resources(pe)
    expected = {("ORVA_INSTALLER", 101): "pmx4.2.0_17.msi"}
    for key, file_name in expected.items():
        path = os.path.join(payload_dir, file_name)
        items = found.get(key)
        if not items:
            fail(f"resource {key} missing")
        if items[0][0] != 1033:
            fail(f"resource {key} in language {items[0][0]}, not 1033")
        with open(path, "rb") as f:
            if items[0][1] != f.read():
                fail(f"resource {key} differs from {path}")
    # String 4 lives in block 1 of the string table.
    if (RT_STRING, 1) not in found:
        fail("no string table block holding string 4")
    if any(key[0] == RT_VERSION for key in found):
        fail("the executable has a version resource")
    print("resources:", sorted(str(k) for k in found))


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


def main(argv):
    if len(argv) < 3:
        fail(__doc__)
    what, path = argv[1], argv[2]
    pe = pefile.PE(path, fast_load=True)
    if what == "imports":
        check_imports(pe)
    elif what == "manifest":
        check_manifest(pe)
    elif what == "resources" and len(argv) == 4:
        check_resources(pe, argv[3])
    elif what == "resource-bytes" and len(argv) == 6:
        check_resource_bytes(pe, argv[3], argv[4], argv[5])
    elif what == "lean":
        check_lean(path, pe)
    else:
        fail(__doc__)


if __name__ == "__main__":
    main(sys.argv)
