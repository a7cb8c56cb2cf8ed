#!/usr/bin/python3
"""What a built installer carries, read from its image without running it.

usage: installer_image.py inspect <exe> [--ca <ca.pem>]
       installer_image.py extract <exe> <out dir> [--force]

inspect prints each payload resource (type, id, the file name it is staged
under, size, SHA-256), the profile the installer was built with, the
manifest's execution level, the size without the payload, whether it is
signed and whether the signature verifies (against <ca.pem>, else the
system's trust store), and the payload check of `make installer` run on
what it carries.

extract writes the package and the cabinets into <out dir> under their staged
names, byte for byte, and prints the VERSION to rebuild them with. Existing
files are never written over; --force replaces them (each name is removed
and created anew). No link at a name is followed.

The profile is read from the image itself: the version from the manifest,
which must agree with the manifest's assembly name and description and with
the kit folder, package file and kit key the program's code holds. Every
file name is then derived from that version by the build profile
(cmake/Profile.cmake), never taken from the file.

A file that is not an installer of this kit gets one line on stderr and exit
status 1; a refused extraction too; a usage error exit status 2.
"""
import hashlib
import os
import re
import shlex
import stat
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

import pefile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, HERE)
import buildprofile  # noqa: E402

RT_MANIFEST = 24
ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
SYSTEM_TRUST_STORE = "/etc/ssl/certs/ca-certificates.crt"
# A staged name as the profile derives it: no separators, never . or ..
PLAIN_NAME = re.compile(r"[A-Za-z0-9][A-Za-z0-9._-]*")


class NotAnInstaller(Exception):
    """The file is not an installer of this kit; the message says why."""


class Unreadable(NotAnInstaller):
    """The path names no readable file."""


class Refused(Exception):
    """Extraction would write over something; the message says what."""


class Installer:
    """A built installer's image: its resources, manifest and profile."""

    def __init__(self, path):
        self.path = path
        self.pe = open_image(path)
        try:
            self.resources = resources(self.pe)
        except pefile.PEFormatError as error:
            raise NotAnInstaller(f"its resources cannot be read ({error.value})") from None
        self.manifest = read_manifest(self.resources)
        self.profile = read_profile(self.manifest)
        check_code_agrees(self.pe, self.profile)

    def payload(self):
        """(file name, resource type, id, bytes or None) in the profile's order."""
        return [(name, rtype, rid, self.resources.get((rtype, rid))) for name, rtype, rid in self.profile.payload]

    def signature_size(self):
        entry = self.pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
        return entry.Size if entry.VirtualAddress else 0


def open_image(path):
    if not os.path.lexists(path):
        raise Unreadable("no such file")
    if not os.path.isfile(path):
        raise Unreadable("not a file")
    try:
        pe = pefile.PE(path, fast_load=True)
        pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    except pefile.PEFormatError as error:
        raise NotAnInstaller(f"not a Windows executable ({error.value})") from None
    except OSError as error:
        raise Unreadable(f"cannot be read ({error.strerror})") from None
    return pe


def resources(pe):
    """{(type, name): bytes} of the first language of each; string types and
    names as str, numeric ones as int."""
    found = {}
    directory = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for rtype in directory.entries if directory is not None else []:
        type_key = str(rtype.name) if rtype.name is not None else rtype.id
        for rname in rtype.directory.entries if hasattr(rtype, "directory") else []:
            name_key = str(rname.name) if rname.name is not None else rname.id
            languages = rname.directory.entries if hasattr(rname, "directory") else []
            if languages and hasattr(languages[0], "data"):
                data = languages[0].data.struct
                found[(type_key, name_key)] = pe.get_data(data.OffsetToData, data.Size)
    return found


def read_manifest(found):
    blob = found.get((RT_MANIFEST, 1))
    if blob is None:
        raise NotAnInstaller("it carries no manifest")
    try:
        root = ET.fromstring(blob)
    except ET.ParseError:
        raise NotAnInstaller("its manifest is not XML") from None
    identity = root.find(f"{ASM_V1}assemblyIdentity")
    level = root.find(f"{ASM_V3}trustInfo/{ASM_V3}security/{ASM_V3}requestedPrivileges/{ASM_V3}requestedExecutionLevel")
    return {
        "version": identity.get("version", "") if identity is not None else "",
        "name": identity.get("name", "") if identity is not None else "",
        "description": root.findtext(f"{ASM_V1}description") or "",
        "level": level.get("level") if level is not None else None,
        "uiAccess": level.get("uiAccess") if level is not None else None,
    }


def read_profile(manifest):
    """The build profile of the version the manifest carries, once its
    assembly name and description agree with that version's."""
    version = manifest["version"]
    parts = re.fullmatch(r"([0-9]+)\.([0-9]+)\.([0-9]+)\.([0-9]+)", version)
    if parts is None:
        raise NotAnInstaller(f"its manifest's version {version!r} is not a kit's four-part version")
    try:
        profile = buildprofile.load("{}.{}.{}_{}".format(*parts.groups()))
    except buildprofile.VersionError as error:
        raise NotAnInstaller(f"its manifest's version {version} is not a kit version: {error}") from None
    for what, found, expected in (("assembly name", manifest["name"], profile.assembly_name),
                                  ("description", manifest["description"], profile.description)):
        if found != expected:
            raise NotAnInstaller(f"its manifest's {what} {found!r} is not {expected!r} of version {version}")
    return profile


def check_code_agrees(pe, profile):
    """The program's own code names the same kit folder, package file and kit
    key as the manifest's version: a manifest alone does not make the file
    an installer of that version."""
    code = b"".join(section.get_data() for section in pe.sections if section.Name.rstrip(b"\0") != b".rsrc")
    for what, text in (("kit folder", profile.kit_folder), ("package file", profile.package_file),
                       ("kit key", profile.kit_key)):
        if text.encode() + b"\0" not in code:
            raise NotAnInstaller(f"its manifest says version {profile.version}, but its code holds no {what} {text}")


def write_payload(installer, out_dir, force):
    """Writes each payload file the installer carries into out_dir under its
    staged name. Returns [(name, bytes written)]. Nothing is written when a
    name is taken and force is off; with force, what stands at a name is
    removed (a link itself, never what it points to) and the file created
    anew. Files are created exclusively and never through a link."""
    items = [(name, data) for name, _, _, data in installer.payload() if data is not None]
    for name, _ in items:
        if not PLAIN_NAME.fullmatch(name) or name in (".", ".."):
            raise Refused(f"the profile names a file {name!r} that is not a plain file name")
    try:
        os.makedirs(out_dir, exist_ok=True)
        folder = os.open(out_dir, os.O_RDONLY | os.O_DIRECTORY | os.O_CLOEXEC)
    except OSError as error:
        raise Refused(f"cannot use {out_dir} as the output folder ({error.strerror})") from None
    try:
        taken = []
        for name, _ in items:
            try:
                taken.append((name, os.stat(name, dir_fd=folder, follow_symlinks=False)))
            except FileNotFoundError:
                pass
        if taken and not force:
            raise Refused(f"{out_dir} already holds {', '.join(name for name, _ in taken)}; "
                          "nothing written (FORCE=1 replaces them)")
        for name, status in taken:
            if stat.S_ISDIR(status.st_mode):
                raise Refused(f"{os.path.join(out_dir, name)} is a folder; nothing written")
        for name, _ in taken:
            os.unlink(name, dir_fd=folder)
        written = []
        for name, data in items:
            try:
                fd = os.open(name, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_NOFOLLOW | os.O_CLOEXEC, 0o644,
                             dir_fd=folder)
            except OSError as error:
                raise Refused(f"cannot create {os.path.join(out_dir, name)} ({error.strerror})") from None
            with os.fdopen(fd, "wb") as f:
                f.write(data)
            written.append((name, len(data)))
        return written
    finally:
        os.close(folder)


def signature_line(installer, ca):
    if not installer.signature_size():
        return "none"
    against = ca if ca else f"the system's trust store ({SYSTEM_TRUST_STORE})"
    result = subprocess.run(["osslsigncode", "verify", "-CAfile", ca or SYSTEM_TRUST_STORE, "-in", installer.path],
                            capture_output=True, text=True)
    output = result.stdout + result.stderr
    signer = re.search(r"Signer #0:\s*\n\s*Subject: *(.*)", output)
    by = f"signed by {signer.group(1).strip()}" if signer else "signed"
    if result.returncode == 0:
        return f"{by}, verifies against {against}"
    reason = re.search(r"Error: *(.*)", output) or re.search(r"Verify error: *(.*)", output)
    return f"{by}, does NOT verify against {against}" + (f": {reason.group(1).strip()}" if reason else "")


def payload_check(installer):
    """The findings of `make installer`'s payload check on what the
    installer carries, extracted into a temporary folder."""
    msistore = subprocess.run([os.path.join(HERE, "msistore.sh"), os.path.join(ROOT, "build", "inspect")],
                              capture_output=True, text=True, check=True).stdout.strip()
    with tempfile.TemporaryDirectory(prefix="inspect.") as folder:
        write_payload(installer, folder, force=False)
        result = subprocess.run([os.path.join(HERE, "check-payload.sh"), folder, msistore, installer.profile.version],
                                capture_output=True, text=True)
    prefix = "warning: payload check: "
    return [line[len(prefix):] if line.startswith(prefix) else line for line in result.stderr.splitlines()]


def inspect(path, ca):
    installer = Installer(path)
    profile, manifest = installer.profile, installer.manifest
    size = os.path.getsize(path)
    print(f"file: {path} ({size} bytes)")
    print(f"version: {profile.version}")
    print(f"kit folder: {profile.kit_folder}")
    print(f"manifest: version {manifest['version']}, assembly {manifest['name']}; the program's kit folder, "
          f"package file and kit key agree")
    print(f"execution level: {manifest['level']}, uiAccess {manifest['uiAccess']}")
    payload_bytes = 0
    for name, rtype, rid, data in installer.payload():
        if data is None:
            print(f"resource {rtype} {rid}: {name}, absent")
            continue
        payload_bytes += len(data)
        print(f"resource {rtype} {rid}: {name}, {len(data)} bytes, sha256 {hashlib.sha256(data).hexdigest()}")
    signature = installer.signature_size()
    print(f"stub: {size - payload_bytes - signature} bytes without the payload"
          f" (payload {payload_bytes} bytes, signature {signature} bytes)")
    print(f"signature: {signature_line(installer, ca)}")
    findings = payload_check(installer)
    if findings:
        print(f"payload check: {len(findings)} finding{'s' if len(findings) > 1 else ''}")
        for finding in findings:
            print(f"  {finding}")
    else:
        print("payload check: passed")


def extract(path, out_dir, force):
    installer = Installer(path)
    written = write_payload(installer, out_dir, force)
    for name, size in written:
        print(f"wrote {os.path.join(out_dir, name)} ({size} bytes)")
    names = {name for name, _ in written}
    for name, rtype, rid, _ in installer.payload():
        if name not in names:
            print(f"not carried: {name} ({rtype} {rid})")
    if installer.signature_size():
        print("the installer is signed; a rebuild is unsigned unless signed again (SIGN_CERT, SIGN_KEY)")
    print(f"version: {installer.profile.version}; rebuild with:")
    print(f"  make installer PAYLOAD_DIR={shlex.quote(out_dir)} VERSION={installer.profile.version}")


USAGE = ("usage: make inspect EXE=<file> [CA=<ca.pem>]\n"
         "       make extract EXE=<file> OUT=<dir> [FORCE=1]")


def main(argv):
    args = argv[1:]
    command = args[0] if args else ""
    try:
        if command == "inspect" and len(args) in (2, 4) and args[1] and args[2:3] in ([], ["--ca"]):
            inspect(args[1], args[3] if len(args) == 4 else None)
        elif command == "extract" and len(args) in (3, 4) and args[1] and args[2] and args[3:] in ([], ["--force"]):
            extract(args[1], args[2], force=len(args) == 4)
        else:
            print(USAGE, file=sys.stderr)
            return 2
    except Unreadable as error:
        print(f"{command}: {args[1]}: {error}", file=sys.stderr)
        return 1
    except NotAnInstaller as error:
        print(f"{command}: {args[1]}: not an installer of this kit: {error}", file=sys.stderr)
        return 1
    except Refused as error:
        print(f"{command}: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
