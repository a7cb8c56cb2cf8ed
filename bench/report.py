#!/usr/bin/python3
"""Prints the table of one benchmark run.

usage: report.py <bench dir> <rounds> <runs of each side in a round of the
                 staging figures> <the same for the full installs>

Reads <bench dir>/results (the stamps of launch.exe, the stand-in engine and
the floor program, the cp times, the checks, the system call count) and sizes
the executables and payloads under <bench dir>. A side's figure of a round is
the median of its runs in that round (named <round>.<pass>). Every ratio is
taken within a round, between runs made back to back, and then summarised
over the rounds after the warm-up by its median and its interquartile range
(the middle half of the rounds). A figure with a target gets a verdict only
when that range is at most a quarter of its median wide; otherwise it is
"noisy: no verdict".
"""
import os
import statistics
import sys

import pefile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
import buildprofile  # noqa: E402

SIZES = (8, 72, 256)  # megabytes of cabinets of the staging figures
KITS = (72, 256)  # megabytes of cabinets of the sample kits installed in full
MB = 1 << 20
NOISY_SHARE = 0.25  # widest interquartile range, as a share of the median, that still gives a verdict
# Targets: (largest ratio that meets it, what the ratio is taken against)
ENGINE_START_TARGET = 1.2
EVENT_SET_TARGET = 1.1
INSTALLED_TARGET = 0.8  # at the largest kit
FLAT_BYTES = 2 * MB  # peak private bytes from the smallest to the largest payload


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
    def __init__(self, bench, rounds, repeats, install_repeats):
        self.bench = bench
        self.folder = os.path.join(bench, "results")
        self.rounds = [str(i) for i in range(1, rounds + 1)]
        self.passes = [str(p) for p in range(1, repeats + 1)]
        self.install_passes = [str(p) for p in range(1, install_repeats + 1)]
        self.copies = {}
        with open(os.path.join(self.folder, "copies.txt")) as f:
            for line in f:
                name, micros = line.split()
                self.copies[name] = int(micros) / 1e6
        self.problems = []

    def stamps(self, name):
        return read_stamps(os.path.join(self.folder, name + ".txt"))

    def seconds(self, name, key, engine=True):
        """Seconds from launch to `key` in the stamps of run `name`; None and
        a problem noted when the run failed. `engine`: the run started the
        stand-in engine, whose wait must have ended with the event set."""
        s = self.stamps(name)
        try:
            if s.get("exit") != "0" or (engine and s.get("event_wait") != "set"):
                self.problems.append(f"{name}: exit {s.get('exit')}, event {s.get('event_wait')}")
                return None
            value = int(s[key])
            if value <= 0:
                raise ValueError
            return (value - int(s["launch"])) / int(s["frequency"])
        except (KeyError, ValueError):
            self.problems.append(f"{name}: no {key} stamp")
            return None

    def per_round(self, value_of):
        """One value per round: the median of value_of(<round>.<pass>) over the
        round's runs that gave one, None when none did."""
        return [median_present([value_of(f"{r}.{p}") for p in self.passes]) for r in self.rounds]

    def series(self, prefix, key, engine=True):
        return self.per_round(lambda tag: self.seconds(f"{prefix}-{tag}", key, engine))

    def memory(self, prefix, key):
        def value(tag):
            try:
                return int(self.stamps(f"{prefix}-{tag}")[key])
            except (KeyError, ValueError):
                return None
        return self.per_round(value)

    def copy_series(self, prefix):
        return self.per_round(lambda tag: self.copies.get(f"{prefix}-{tag}"))


def median_present(values):
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else None


def combine(op, *series):
    return [None if None in values else op(*values) for values in zip(*series)]


def div(a, b):
    return a / b


def summary(values):
    """(median, first quartile, third quartile) of the values present, or None."""
    values = [v for v in values if v is not None]
    if not values:
        return None
    if len(values) == 1:
        return values[0], values[0], values[0]
    q1, median, q3 = statistics.quantiles(values, n=4, method="inclusive")
    return median, q1, q3


def is_noisy(s):
    return s[2] - s[1] > NOISY_SHARE * abs(s[0])


def ms(values):
    s = summary(values)
    return "n/a" if s is None else f"{s[0] * 1000:6.0f} ms [{s[1] * 1000:.0f}-{s[2] * 1000:.0f}]"


def ratio(values):
    s = summary(values)
    return "n/a" if s is None else f"{s[0]:5.2f}x [{s[1]:.2f}-{s[2]:.2f}]"


def mib(values):
    s = summary(values)
    return "n/a" if s is None else f"{s[0] / MB:6.1f} MB [{s[1] / MB:.1f}-{s[2] / MB:.1f}]"


def verdict(values, limit):
    """met / MISSED against `limit` for the median ratio, or no verdict when
    the rounds spread too widely to decide."""
    s = summary(values)
    if s is None:
        return "n/a"
    if is_noisy(s):
        return f"noisy: no verdict (<= {limit:g}x)"
    return ("met" if s[0] <= limit else "MISSED") + f" (<= {limit:g}x)"


def full_install(res, side, megabytes, tag):
    """(start -> exit, start -> event set seen by the launcher or None) of one
    full install, None for a failed run."""
    name = f"kit{side}{megabytes}-{tag}"
    s = res.stamps(name)
    try:
        frequency, launch = int(s["frequency"]), int(s["launch"])
        total = (int(s["ended"]) - launch) / frequency
        watched = int(s.get("watched_event_set", "0"))
    except (KeyError, ValueError):
        res.problems.append(f"{name}: no stamps")
        return None
    if s.get("exit") != "0" or (side == "ours" and watched <= 0):
        res.problems.append(f"{name}: exit {s.get('exit')}" + (", event not set" if watched <= 0 else ""))
        return None
    return total, (watched - launch) / frequency if watched > 0 else None


def full_installs(res, side, megabytes):
    """One side's full installs, round by round, each the median of the
    round's runs: (start -> exit, start -> event set or None)."""
    totals, staged = [], []
    for r in res.rounds:
        runs = [full_install(res, side, megabytes, f"{r}.{p}") for p in res.install_passes]
        runs = [run for run in runs if run is not None]
        totals.append(median_present([run[0] for run in runs]))
        staged.append(median_present([run[1] for run in runs]))
    return totals, staged


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


def per_100mb(bench, series):
    """Seconds per 100 MB of cabinets from the smallest to the largest payload,
    round by round."""
    extra = (payload_bytes(bench, SIZES[-1]) - payload_bytes(bench, SIZES[0])) / 1e8
    return [None if a is None or b is None else (b - a) / extra for a, b in zip(series[SIZES[0]], series[SIZES[-1]])]


def seconds_text(values):
    s = summary(values)
    return "n/a" if s is None else f"{s[0]:.3f} s [{s[1]:.3f}-{s[2]:.3f}]"


def main(argv):
    if len(argv) != 5:
        sys.exit(__doc__)
    bench, rounds, repeats, install_repeats = argv[1], int(argv[2]), int(argv[3]), int(argv[4])
    res = Results(bench, rounds, repeats, install_repeats)
    machine = read_stamps(os.path.join(res.folder, "machine.txt"))

    ours_engine = res.series("ours72", "engine_start")
    floor_engine = res.series("floorengine72", "engine_start")
    peer_engine = res.series("peer72", "engine_start")
    ours_event = {n: res.series(f"ours{n}", "event_set") for n in SIZES}
    floor_event = {n: res.series(f"floor{n}", "written", engine=False) for n in SIZES}
    peer_staged = {n: res.series(f"peer{n}", "engine_start") for n in SIZES}
    cp_all = {n: res.copy_series(f"cp{n}") for n in SIZES}

    out = []
    out.append(f"machine: {machine.get('nproc', '?')} cores, {machine.get('cpu', '?')}, "
               f"{machine.get('memory', '?')} MB memory; {machine.get('wine', '?')}; NSIS {machine.get('nsis', '?')}")
    out.append(f"load average at start {machine.get('load_start', '?')}, at end {machine.get('load_end', '?')}; "
               f"measured part of the run {machine.get('measured_seconds', '?')} s")
    out.append(f"payload: package {package_bytes(bench)} bytes; cabinets "
               + ", ".join(f"{n} MB = {payload_bytes(bench, n) - package_bytes(bench)} bytes" for n in SIZES)
               + "; seeded, incompressible")
    out.append(f"each figure: median [interquartile range] of {rounds} rounds after a warm-up; each round runs "
               f"ours, the peer and the floors back to back ({repeats} runs of each; {install_repeats} of each full "
               "install), in an order that alternates round to round; a side's figure of the round is the median of its runs there; ratios within the round; "
               "before every run the image is read once, the last output removed, dirty pages "
               f"written back and {machine.get('settle', '?')} s of settling; no verdict where the range is wider "
               f"than {NOISY_SHARE:g} of the median")
    out.append("")

    head = ["figure (72 MB kit)", "ours", "floor", "x floor", "target", "peer", "x peer"]
    engine_ratio = combine(div, ours_engine, floor_engine)
    rows = [["start -> engine start", ms(ours_engine), ms(floor_engine), ratio(engine_ratio),
             verdict(engine_ratio, ENGINE_START_TARGET), ms(peer_engine), ratio(combine(div, ours_engine, peer_engine))]]
    out.append(table("Start to engine start (floor: a program that writes the package from the installer's mapped "
                     "image in 8192-byte calls, then starts the trivial engine)", head, rows))
    out.append("")

    head = ["cabinets", "ours: start -> event set", "floor", "x floor", "target", "peer: start -> staged", "x peer",
            "cp (reference)"]
    rows = []
    for n in SIZES:
        event_ratio = combine(div, ours_event[n], floor_event[n])
        rows.append([f"{n} MB", ms(ours_event[n]), ms(floor_event[n]), ratio(event_ratio),
                     verdict(event_ratio, EVENT_SET_TARGET), ms(peer_staged[n]),
                     ratio(combine(div, ours_event[n], peer_staged[n])), ms(cp_all[n])])
    rows.append(["s per 100 MB (8 -> 256)", seconds_text(per_100mb(bench, ours_event)),
                 seconds_text(per_100mb(bench, floor_event)), "", "", seconds_text(per_100mb(bench, peer_staged)), "",
                 seconds_text(per_100mb(bench, cp_all))])
    out.append(table("Start to event set (floor: the same bytes written from the installer's mapped image in "
                     "8192-byte calls by a program that does nothing else)", head, rows))
    out.append("")

    head = ["cabinets", "ours: start -> exit", "peer: start -> exit", "x peer", "target",
            "ours: start -> event set", "of ours' total"]
    rows = []
    for n in KITS:
        ours_total, staged = full_installs(res, "ours", n)
        peer_total, _ = full_installs(res, "peer", n)
        installed_ratio = combine(div, ours_total, peer_total)
        share = summary(combine(div, staged, ours_total))
        rows.append([f"{n} MB", ms(ours_total), ms(peer_total), ratio(installed_ratio),
                     verdict(installed_ratio, INSTALLED_TARGET) if n == KITS[-1] else "",
                     ms(staged), "n/a" if share is None else
                     f"{share[0] * 100:3.0f} % [{share[1] * 100:.0f}-{share[2] * 100:.0f}]"])
    out.append(table("Time to installed: the sample kit installed silently by Wine's msiexec, from the installer's "
                     "start to its exit (ours with /s; the peer extracts everything, runs the engine with the event "
                     "already set, then the runtime follow-up)", head, rows))
    out.append("")

    head = ["cabinets", "ours: peak private", "ours: peak working set", "peer: peak private", "peer: peak working set"]
    rows = [[f"{n} MB", mib(res.memory(f"ours{n}", "peak_private")), mib(res.memory(f"ours{n}", "peak_working_set")),
             mib(res.memory(f"peer{n}", "peak_private")), mib(res.memory(f"peer{n}", "peak_working_set"))]
            for n in SIZES]
    private = {n: summary(res.memory(f"ours{n}", "peak_private")) for n in SIZES}
    if None not in private.values():
        growth = private[SIZES[-1]][0] - private[SIZES[0]][0]
        flat = "met" if growth <= FLAT_BYTES else "MISSED"
        rows.append([f"{SIZES[0]} -> {SIZES[-1]} MB",
                     f"{growth / MB:+.1f} MB: {flat} (flat: within {FLAT_BYTES // MB} MB)", "", "", ""])
    out.append(table("Peak memory of the installer process while staging", head, rows))
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
    out.append("checks: " + ("staged files equal the payload on every side; every run exited 0 with the event set"
                             if not problems else f"{len(problems)} problems: " + "; ".join(problems[:8])))
    print("\n".join(out))


if __name__ == "__main__":
    main(sys.argv)
