#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Where the time of `sdsmart --all` over 8 virtual cards goes, and of
`sdsmart` on one: each run is traced by perf (process starts, forks and
ends, the card lock taken, the virtual card's per-transfer sleeps), and the
phases below are the medians over the runs, in milliseconds.

usage: all_cards_phases.py BUILD_DIR [RUNS]
"""
import json
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

EVENTS = ["sched:sched_process_exec", "sched:sched_process_fork", "sched:sched_process_exit",
          "syscalls:sys_enter_flock", "syscalls:sys_enter_fsync",
          "syscalls:sys_enter_clock_nanosleep"]
CARDS = 8
LINE = re.compile(r"\s*(\S+)\s+(\d+)\s+\[\d+\]\s+([\d.]+):\s+(\S+):(.*)")


def card_files(source, folder):
    """The bundled reader card under eight nodes, 1 ms a transfer."""
    text = open(os.path.join(source, "sim/cards/usb.json")).read()
    files, nodes = [], []
    for i in range(CARDS):
        node = "/dev/sd" + chr(ord("q") + i)
        card = text.replace('"node": "/dev/sdx"',
                            '"node": "%s", "latency": {"transfer_us": 1000}' % node)
        path = os.path.join(folder, "card%d.json" % i)
        open(path, "w").write(card)
        files.append(path)
        nodes.append(node)
    return files, nodes


def trace(build, folder, files, tool):
    """One run under perf: {pid: [(ms since the launcher started, event, text)]}."""
    data = os.path.join(folder, "perf.data")
    argv = [os.path.join(build, "bin/sdsim")]
    for f in files:
        argv += ["--card", f]
    argv += ["--", os.path.join(build, "bin/sdsmart"), "--config",
             os.path.join(build, "demo/config"), "--state-dir", os.path.join(folder, "state"),
             "--prometheus=" + os.path.join(folder, "out.prom")] + tool
    record = ["perf", "record", "-q", "-o", data]
    for e in EVENTS:
        record += ["-e", e]
    subprocess.run(record + ["--"] + argv, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, check=True)
    script = subprocess.run(["perf", "script", "-i", data], capture_output=True, text=True,
                            check=True).stdout
    events, start = {}, None
    for line in script.splitlines():
        m = LINE.match(line)
        if not m:
            continue
        _, pid, at, event, text = m.groups()
        at = float(at) * 1000
        if start is None:
            start = at
        events.setdefault(int(pid), []).append((at - start, event.split(":")[1], text))
    return events


def first(events, name, after=None):
    times = [t for t, e, _ in events if e == name and (after is None or t >= after)]
    return times[0] if times else None


def last(events, name):
    times = [t for t, e, _ in events if e == name]
    return times[-1] if times else None


def tool_pid(events):
    for pid, evs in events.items():
        if any(e == "sched_process_exec" and "bin/sdsmart" in text for _, e, text in evs):
            return pid
    raise RuntimeError("no sdsmart process in the trace")


def card_phases(evs, begin):
    """A card's run from `begin` (its process's start): to the card's lock;
    to its sector-0 journal made durable (two sectors read, the journal
    written, the file and its folder synced); over the reading's transfers
    (the virtual card sleeps 1 ms after each); from the last one to the
    process's end (journal removed, history, state file, textfile)."""
    lock = first(evs, "sys_enter_flock")
    syncs = [t for t, e, _ in evs if e == "sys_enter_fsync" and t >= lock]
    saved = syncs[1]
    last_transfer = last(evs, "sys_enter_clock_nanosleep")
    end = last(evs, "sched_process_exit")
    return {"start to lock": lock - begin, "lock to journal saved": saved - lock,
            "transfers": last_transfer - saved, "last transfer to end": end - last_transfer}


def one_card(events):
    pid = tool_pid(events)
    evs = events[pid]
    begin = first(evs, "sched_process_exec")
    phases = card_phases(evs, begin)
    phases["whole run of the tool"] = last(evs, "sched_process_exit") - begin
    return phases


def all_cards(events):
    pid = tool_pid(events)
    evs = events[pid]
    begin = first(evs, "sched_process_exec")
    forks = [(t, int(text.split("child_pid=")[1].split()[0]))
             for t, e, text in evs if e == "sched_process_fork"]
    children = [(t, child) for t, child in forks if child in events]
    ends = [last(events[c], "sched_process_exit") for _, c in children]
    runs = [card_phases(events[c], t) for t, c in children]
    phases = {"tool start to first fork": children[0][0] - begin,
              "first fork to last fork": children[-1][0] - children[0][0]}
    for key in runs[0]:
        phases["card: " + key] = statistics.median(r[key] for r in runs)
    phases["last card's end to tool's end"] = last(evs, "sched_process_exit") - max(ends)
    phases["whole run of the tool"] = last(evs, "sched_process_exit") - begin
    return phases


def main():
    build = os.path.abspath(sys.argv[1])
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 15
    source = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    if not shutil.which("perf"):
        print("all-8-cards phases: not measured: perf is not installed")
        return 0
    folder = tempfile.mkdtemp(prefix="sdsmart-phases-")
    try:
        os.makedirs(os.path.join(folder, "state"))
        files, nodes = card_files(source, folder)
        try:
            samples = {"one card": [], "--all, 8 cards": []}
            for _ in range(runs):
                samples["one card"].append(one_card(trace(build, folder, files[:1], [nodes[0]])))
                samples["--all, 8 cards"].append(
                    all_cards(trace(build, folder, files, ["--all"] + nodes)))
        except (subprocess.CalledProcessError, RuntimeError, IndexError, TypeError) as e:
            print("all-8-cards phases: not measured: %s" % e)
            return 0
        print("phases in ms, medians of %d runs (load average %s):"
              % (runs, open("/proc/loadavg").read().split()[0]))
        for title, rows in samples.items():
            print("  " + title)
            for key in rows[0]:
                print("    %-34s %7.1f" % (key, statistics.median(r[key] for r in rows)))
        print(json.dumps({k: {p: round(statistics.median(r[p] for r in v), 2) for p in v[0]}
                          for k, v in samples.items()}))
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
