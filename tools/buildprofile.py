"""The build profile for Python scripts: every name of a version, from
cmake/Profile.cmake run as a script, the one place the names come from.

    import buildprofile
    profile = buildprofile.load(version)   # or load() for the default
    profile.kit_folder, profile.package_file, profile.cabinets, ...
"""
import os
import shlex
import subprocess
from types import SimpleNamespace

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "cmake", "Profile.cmake")


class VersionError(ValueError):
    """A version that breaks a rule; the message is the one line saying which."""


def load(version=None):
    """The profile of `version` (None: the default version). Names as in
    Profile.cmake without the PROFILE_ prefix, in lower case; `cabinets` is
    the list of cabinet file names in the program's table order, `payload`
    the list of (file name, resource type, resource id), the package first."""
    # The version goes through the environment, which keeps it exactly as
    # given (cmake -D would drop blanks at its end).
    environment = {name: value for name, value in os.environ.items() if name != "PROFILE_VERSION_INPUT"}
    if version is not None:
        environment["PROFILE_VERSION_INPUT"] = version
    result = subprocess.run(["cmake", "-P", SCRIPT], capture_output=True, text=True, env=environment)
    if result.returncode != 0:
        lines = result.stderr.splitlines()
        raise VersionError(lines[0] if lines else f"cmake -P {SCRIPT} failed")
    values = {}
    for line in result.stdout.splitlines():
        (assignment,) = shlex.split(line)
        name, value = assignment.split("=", 1)
        values[name[len("PROFILE_"):].lower()] = value
    values["cabinets"] = values["cabinets"].split()
    values["payload"] = [(name, rtype, int(rid))
                         for name, rtype, rid in (entry.split(":") for entry in values["payload"].split())]
    return SimpleNamespace(**values)
