#!/usr/bin/python3
"""Prints the table of one benchmark run.

usage: report.py <bench dir> <rounds>

Reads <bench dir>/results (the stamps of launch.exe and the stand-in engine,
the cp times, the checks, the system call count) and sizes the executables
and payloads under <bench dir>. Every figure is the median of the rounds
after the warm-up, with min and max; a ratio is computed round by round
against the floor or the peer of the same round, then summarised the same
way.
"""
import os
import statistics
import sys

import pefile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
import buildprofile  # noqa: E402

SIZES = (8, 72, 256)
MB = 1 << 20


def read_stamps(path):
    values = {}
    try:
        with open(path, errors="replace") as f:
            for line in f:
                key, _, value = line.rstrip("\n").partition(" ")
                values[key] = value
    except OSError:
        pass
    return values


class Results:
    def __init__(self, bench, rounds):
        self.bench = bench
        self.folder = os.path.join(bench, "results")
        self.rounds = [str(i) for i in range(1, rounds + 1)]
        self.copies = {}
        with open(os.path.join(self.folder, "copies.txt")) as f:
            for line in f:
                name, micros = line.split()
                self.copies[name] = int(micros) / 1e6
        self.problems = []

    def stamps(self, name):
        return read_stamps(os.path.join(self.folder, name + ".txt"))

    def seconds(self, name, key):
        """Seconds from launch to `key` in the stamps of run `name`."""
        s = self.stamps(name)
        try:
            if s.get("exit") != "0" or s.get("event_wait") != "set":
                self.problems.append(f"{name}: exit {s.get('exit')}, event {s.get('event_wait')}")
            return (int(s[key]) - int(s["launch"])) / int(s["frequency"])
        except (KeyError, ValueError):
            self.problems.append(f"{name}: no {key} stamp")
            return None

    def series(self, prefix, key):
        return [self.seconds(f"{prefix}-{r}", key) for r in self.rounds]

    def memory(self, prefix, key):
        values = []
        for r in self.rounds:
            try:
                values.append(int(self.stamps(f"{prefix}-{r}")[key]))
            except (KeyError, ValueError):
                values.append(None)
        return values

    def full_install(self):
        """Per round of the large kit's full install: (total, start -> event
        set) in seconds, or None when the round failed."""
        rounds = []
        for r in self.rounds:
            s = self.stamps(f"kit-{r}")
            try:
                frequency, launch = int(s["frequency"]), int(s["launch"])
                total = (int(s["ended"]) - launch) / frequency
                staged = (int(s["watched_event_set"]) - launch) / frequency
            except (KeyError, ValueError):
                self.problems.append(f"kit-{r}: no stamps")
                rounds.append(None)
                continue
            if s.get("exit") != "0" or staged <= 0:
                self.problems.append(f"kit-{r}: exit {s.get('exit')}, event {'set' if staged > 0 else 'not set'}")
                rounds.append(None)
                continue
            rounds.append((total, staged))
        return rounds

    def copy_series(self, prefix):
        return [self.copies.get(f"{prefix}-{r}") for r in self.rounds]


def combine(op, *series):
    return [None if None in values else op(*values) for values in zip(*series)]


def summary(values):
    values = [v for v in values if v is not None]
    if not values:
        return None
    return statistics.median(values), min(values), max(values)


def ms(values):
    s = summary(values)
    return "n/a" if s is None else f"{s[0] * 1000:7.0f} ms [{s[1] * 1000:.0f}-{s[2] * 1000:.0f}]"


def ratio(values):
    s = summary(values)
    return "n/a" if s is None else f"{s[0]:5.2f}x [{s[1]:.2f}-{s[2]:.2f}]"


def mib(values):
    s = summary(values)
    return "n/a" if s is None else f"{s[0] / MB:6.1f} MB [{s[1] / MB:.1f}-{s[2] / MB:.1f}]"


def verdict(values, limit):
    s = summary(values)
    if s is None:
        return "n/a"
    return ("met" if s[0] <= limit else "MISSED") + f" (<= {limit:g}x)"


def payload_bytes(bench, megabytes):
    folder = os.path.join(bench, "payloads", f"{megabytes}mb")
    return sum(os.path.getsize(os.path.join(folder, n)) for n in os.listdir(folder) if not n.startswith("."))


def package_bytes(bench):
    return os.path.getsize(os.path.join(bench, "payloads", "72mb", buildprofile.load().package_file))


def icon_bytes(path):
    """Bytes of the icon images and icon groups in the image's resources."""
    pe = pefile.PE(path, fast_load=True)
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    total = 0
    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for kind in root.entries if root is not None else []:
        if kind.id not in (3, 14):  # RT_ICON, RT_GROUP_ICON
            continue
        for name in kind.directory.entries:
            for language in name.directory.entries:
                total += language.data.struct.Size
    return total


def resource_offsets(bench):
    """Where the resource section starts in each installer's file. Wine maps
    a section straight from the file only when its file offset is a multiple
    of 4096; otherwise it reads the whole section into private memory when
    the image loads, and the payload is copied once before WinMain runs."""
    parts = []
    for n in SIZES:
        pe = pefile.PE(os.path.join(bench, f"pmx-{n}.exe"), fast_load=True)
        for section in pe.sections:
            if section.Name.rstrip(b"\0") == b".rsrc":
                offset = section.PointerToRawData
                parts.append(f"{n} MB 0x{offset:X} ({'mapped' if offset % 4096 == 0 else 'READ INTO PRIVATE MEMORY'})")
    return "resource section file offset (Wine maps it only on a 4096-byte boundary): " + ", ".join(parts)


def row(cells, widths):
    return "  ".join(str(c).ljust(w) for c, w in zip(cells, widths)).rstrip()


def table(title, header, rows):
    widths = [max(len(str(r[i])) for r in [header] + rows) for i in range(len(header))]
    lines = [title, row(header, widths), row(["-" * w for w in widths], widths)]
    lines += [row(r, widths) for r in rows]
    return "\n".join(lines)


def stub_rows(bench):
    rows = []
    for label, exe in (("ours", "pmx-72.exe"), ("peer (NSIS)", "peer-72.exe")):
        path = os.path.join(bench, exe)
        overhead = os.path.getsize(path) - payload_bytes(bench, 72)
        icon = icon_bytes(path)
        code = overhead - icon
        target = ("met" if code <= 32768 else "MISSED") + " (code <= 32768)" if label == "ours" else ""
        rows.append([label, f"{overhead}", f"{code}", f"{icon}", target])
    return rows


def chunk_writes(bench, megabytes):
    """The 8192-byte WriteFile calls of staging one payload."""
    folder = os.path.join(bench, "payloads", f"{megabytes}mb")
    return sum(-(-os.path.getsize(os.path.join(folder, n)) // 8192) for n in os.listdir(folder)
               if not n.startswith("."))


def syscall_line(bench, folder):
    path = os.path.join(folder, "strace-ours72.txt")
    try:
        with open(path) as f:
            text = f.read()
    except OSError:
        return "system calls: not counted"
    counts = {}
    for line in text.splitlines():
        fields = line.split()
        if len(fields) in (5, 6) and fields[-1].isidentifier() and fields[3].isdigit():
            counts[fields[-1]] = int(fields[3])
    top = sorted(((n, c) for n, c in counts.items() if n != "total"), key=lambda kv: -kv[1])[:5]
    return (f"system calls of one 72 MB run (launcher, installer, stand-in; strace -f -c; the wineserver not "
            f"counted): {counts.get('total', '?')} in all for {chunk_writes(bench, 72)} chunk writes; "
            + ", ".join(f"{name} {count}" for name, count in top))


def main(argv):
    if len(argv) != 3:
        sys.exit(__doc__)
    bench, rounds = argv[1], int(argv[2])
    res = Results(bench, rounds)
    machine = read_stamps(os.path.join(res.folder, "machine.txt"))

    trivial = res.series("trivial", "engine_start")
    cp_package = res.copy_series("package")
    floor_engine = combine(lambda a, b: a + b, trivial, cp_package)
    ours_engine = {n: res.series(f"ours{n}", "engine_start") for n in SIZES}
    ours_event = {n: res.series(f"ours{n}", "event_set") for n in SIZES}
    peer_engine = {n: res.series(f"peer{n}", "engine_start") for n in SIZES}
    peer_event = {n: res.series(f"peer{n}", "event_set") for n in SIZES}
    cp_all = {n: res.copy_series(f"all{n}") for n in SIZES}
    floor_event = {n: combine(lambda a, b: a + b, trivial, cp_all[n]) for n in SIZES}
    div = lambda a, b: a / b

    out = []
    out.append(f"machine: {machine.get('nproc', '?')} cores, {machine.get('cpu', '?')}, "
               f"{machine.get('memory', '?')} MB memory; {machine.get('wine', '?')}; NSIS {machine.get('nsis', '?')}")
    out.append(f"load average at start {machine.get('load_start', '?')}, at end {machine.get('load_end', '?')}")
    out.append(f"payload: package {package_bytes(bench)} bytes; cabinets "
               + ", ".join(f"{n} MB = {payload_bytes(bench, n) - package_bytes(bench)} bytes" for n in SIZES)
               + "; seeded, incompressible")
    out.append(f"each figure: median [min-max] of {rounds} rounds after a warm-up; ratios round by round")
    out.append("")

    head = ["figure (72 MB kit)", "time", "x floor", "x peer", "target"]
    rows = [
        ["start -> engine start", ms(ours_engine[72]), ratio(combine(div, ours_engine[72], floor_engine)),
         ratio(combine(div, ours_engine[72], peer_engine[72])),
         verdict(combine(div, ours_engine[72], floor_engine), 1.2) + " floor"],
        ["start -> event set", ms(ours_event[72]), ratio(combine(div, ours_event[72], floor_event[72])),
         ratio(combine(div, ours_event[72], peer_event[72])),
         verdict(combine(div, ours_event[72], floor_event[72]), 1.25) + " floor, "
         + verdict(combine(div, ours_event[72], peer_event[72]), 0.4) + " peer"],
        ["peer: start -> engine start (all staged)", ms(peer_engine[72]),
         ratio(combine(div, peer_engine[72], floor_event[72])), "", ""],
        ["floor: trivial program start", ms(trivial), "", "", ""],
        ["floor: cp package", ms(cp_package), "", "", ""],
        ["floor: cp package + cabinets", ms(cp_all[72]), "", "", ""],
        ["floor for engine start (trivial + cp package)", ms(floor_engine), "", "", ""],
        ["floor for event set (trivial + cp all)", ms(floor_event[72]), "", "", ""],
    ]
    out.append(table("Start-up and staging", head, rows))
    out.append("")

    head = ["payload", "ours: start -> event set", "x floor", "x peer", "peer: start -> staged", "cp all"]
    rows = []
    for n in SIZES:
        rows.append([f"{n} MB", ms(ours_event[n]), ratio(combine(div, ours_event[n], floor_event[n])),
                     ratio(combine(div, ours_event[n], peer_event[n])), ms(peer_event[n]), ms(cp_all[n])])

    def per_100mb(series):
        values = []
        for a, b in zip(series[SIZES[0]], series[SIZES[-1]]):
            values.append(None if a is None or b is None else
                          (b - a) / ((payload_bytes(bench, SIZES[-1]) - payload_bytes(bench, SIZES[0])) / 1e8))
        s = summary(values)
        return "n/a" if s is None else f"{s[0]:.3f} s [{s[1]:.3f}-{s[2]:.3f}]"

    rows.append(["s per 100 MB (8 -> 256 MB)", per_100mb(ours_event), "", "", per_100mb(peer_event),
                 per_100mb(cp_all)])
    out.append(table("How time grows with the payload", head, rows))
    out.append("")

    head = ["payload", "ours: peak private", "ours: peak working set", "peer: peak private", "peer: peak working set"]
    rows = [[f"{n} MB", mib(res.memory(f"ours{n}", "peak_private")), mib(res.memory(f"ours{n}", "peak_working_set")),
             mib(res.memory(f"peer{n}", "peak_private")), mib(res.memory(f"peer{n}", "peak_working_set"))]
            for n in SIZES]
    private = {n: summary(res.memory(f"ours{n}", "peak_private")) for n in SIZES}
    if None not in private.values():
        growth = private[SIZES[-1]][0] - private[SIZES[0]][0]
        flat = "met" if growth <= 2 * MB else "MISSED"
        rows.append(["8 -> 256 MB", f"{growth / MB:+.1f} MB: {flat} (flat: within 2 MB)", "", "", ""])
    out.append(table("Peak memory of the installer process while staging", head, rows))
    out.append("")

    kit = res.full_install()
    kit_total = [None if r is None else r[0] for r in kit]
    kit_staged = [None if r is None else r[1] for r in kit]
    share = combine(div, kit_staged, kit_total)
    share_summary = summary(share)
    rows = [["total: start -> the installer's exit", ms(kit_total), ""],
            ["the installer's share: start -> every cabinet staged (event set)", ms(kit_staged),
             "n/a" if share_summary is None else
             f"{share_summary[0] * 100:4.0f} % [{share_summary[1] * 100:.0f}-{share_summary[2] * 100:.0f}]"]]
    out.append(table("Full silent install of the large sample kit by Wine's msiexec (/s, runtime follow-up included)",
                     ["figure", "time", "of the total"], rows))
    out.append("")

    out.append(table("Stub overhead (executable minus payload bytes)",
                     ["installer", "overhead", "code", "icon", "target"], stub_rows(bench)))
    out.append("")

    out.append(resource_offsets(bench))
    out.append(syscall_line(bench, res.folder))
    loop = read_stamps(os.path.join(res.folder, "write_loop.txt"))
    if "native_chunked" in loop:
        chunked, calls = loop["native_chunked"].split()
        whole = loop["native_whole"].split()[0]
        out.append(f"native write loop, 72 MB of cabinets: {float(chunked) * 1000:.0f} ms in {calls} calls of "
                   f"8192 bytes, {float(whole) * 1000:.0f} ms in one call")
    probe = {}
    try:
        with open(os.path.join(res.folder, "write_loop.txt")) as f:
            for line in f:
                fields = line.split()
                if len(fields) == 3 and fields[0] == "wine_chunk":
                    probe[int(fields[1])] = float(fields[2])
    except OSError:
        pass
    if probe:
        out.append("under Wine, 72 MB of cabinets from a fresh file mapping: "
                   + ", ".join(f"{seconds * 1000:.0f} ms in calls of {chunk} bytes"
                               for chunk, seconds in sorted(probe.items())))
    with open(os.path.join(res.folder, "checks.txt")) as f:
        checks = f.read().split("\n")
    problems = [c for c in checks if c] + res.problems
    out.append("checks: " + ("staged files equal the payload; every run exited 0 with the event set"
                             if not problems else "; ".join(problems[:8])))
    print("\n".join(out))


if __name__ == "__main__":
    main(sys.argv)
