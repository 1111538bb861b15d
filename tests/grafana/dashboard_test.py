#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The Grafana dashboard against a real Prometheus.

Debian's prometheus and prometheus-node-exporter (unpacked into the build
tree by scripts/install-deps.sh) run on free ports of their own; the built
tool writes its textfile from four virtual cards over four readings ten
simulated days apart: one wearing fast (a forecast), one with new
uncorrectable ECC errors, one that is lost before the last reading and one
that cannot be read. Every expression of every panel is then evaluated
through Prometheus' query API with the dashboard's variables filled in as
Grafana fills them, and the values are compared with the tool's own JSON
documents. Last, each metric the panels use is renamed in the textfile in
turn: the same checks must then fail for every panel that uses it.

Usage: dashboard_test.py BUILD_DIR SOURCE_DIR WORK_DIR SERVERS_DIR
Exit status 77 (skipped) when the servers are not unpacked.
"""
import json
import math
import os
import re
import shutil
import socket
import subprocess
import sys
import time
import urllib.parse
import urllib.request

BUILD, SRC, WORK, SERVERS = sys.argv[1:5]
DASHBOARD = os.path.join(SRC, "contrib/grafana/sdsmart-dashboard.json")
DAY = 86400
FIRST_READING = 1780000000  # simulated wall clock of the first reading
READINGS = 4
WAIT = 90  # seconds any one wait for the servers may take at most

# The cards: node -> how each reading's card file differs from its sample.
WEAR, ECC, LOST, UNREAD = "/dev/sdx", "/dev/mmcblk7", "/dev/mmcblk6", "/dev/sdy"


def card_file(node, reading):
    sample = {WEAR: "usb", ECC: "native", LOST: "native_sdsc", UNREAD: "usb"}[node]
    with open(os.path.join(SRC, "sim/cards", sample + ".json")) as f:
        card = json.load(f)
    card["node"] = node
    if node == WEAR:  # about 10 % of its rated life a reading
        card["erase_counts"]["generate"]["mean"] = 120 + 300 * reading
    if node == ECC:  # two new uncorrectable errors in the last reading
        card["runtime_status"]["generate"]["ecc_errors"] = 1 if reading < READINGS - 1 else 3
        card["erase_counts"]["generate"]["mean"] = 300 + 10 * reading
    if node == UNREAD:  # an entry string the host's configuration does not hold
        card["entry"] = "OTHERENT"
    path = os.path.join(WORK, "cards", "%s-%d.json" % (node.rsplit("/", 1)[1], reading))
    with open(path, "w") as f:
        json.dump(card, f)
    return path


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def get(url):
    with urllib.request.urlopen(url, timeout=10) as answer:
        return json.load(answer)


class Servers:
    """The node exporter over the textfile folder, and Prometheus scraping it every second."""

    def __init__(self):
        self.procs = []
        bin_dir = os.path.join(SERVERS, "usr/bin")
        self.node_port, self.prom_port = free_port(), free_port()
        self.instance = "127.0.0.1:%d" % self.node_port
        self.start([os.path.join(bin_dir, "prometheus-node-exporter"),
                    "--web.listen-address=" + self.instance, "--collector.disable-defaults",
                    "--collector.textfile", "--collector.textfile.directory=" + TEXTFILE_DIR],
                   "node-exporter")
        config = os.path.join(WORK, "prometheus.yml")
        with open(config, "w") as f:
            f.write("global: {scrape_interval: 1s, scrape_timeout: 1s}\n"
                    "scrape_configs:\n  - job_name: node\n"
                    "    static_configs: [{targets: ['%s']}]\n" % self.instance)
        self.api = "http://127.0.0.1:%d" % self.prom_port
        self.start([os.path.join(bin_dir, "prometheus"), "--config.file=" + config,
                    "--storage.tsdb.path=" + os.path.join(WORK, "tsdb"),
                    "--web.listen-address=127.0.0.1:%d" % self.prom_port, "--log.level=warn"],
                   "prometheus")
        self.until("Prometheus ready", lambda: self.ready())

    def start(self, argv, name):
        log = open(os.path.join(WORK, name + ".log"), "w")
        # Stopped at the end; the time limit holds should the test itself be killed.
        limit = ["timeout", "--kill-after=10", "900"]
        self.procs.append(subprocess.Popen(limit + argv, stdout=log, stderr=subprocess.STDOUT))

    def ready(self):
        for p in self.procs:
            if p.poll() is not None:
                sys.exit("%s ended with %d (see %s)" % (p.args[3], p.returncode, WORK))
        try:
            return urllib.request.urlopen(self.api + "/-/ready", timeout=5).status == 200
        except OSError:
            return False

    def stop(self):
        for p in self.procs:
            p.terminate()
        for p in self.procs:
            try:
                p.wait(timeout=20)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()

    def query(self, expr):
        answer = get(self.api + "/api/v1/query?" + urllib.parse.urlencode({"query": expr}))
        if answer["status"] != "success":
            raise RuntimeError("%s: %s" % (expr, answer))
        return [(s["metric"], float(s["value"][1])) for s in answer["data"]["result"]]

    def label_values(self, selector, label):
        query = urllib.parse.urlencode({"match[]": selector})
        return get("%s/api/v1/label/%s/values?%s" % (self.api, label, query))["data"]

    def until(self, what, condition):
        """Polls CONDITION (bounded): the servers keep their own pace."""
        deadline = time.monotonic() + WAIT
        while not condition():
            if time.monotonic() > deadline:
                sys.exit("gave up waiting for " + what)
            time.sleep(0.2)


def value_of(servers, expr):
    series = servers.query(expr)
    return series[0][1] if len(series) == 1 else None


def run_readings(servers):
    """The tool's textfile of each reading, scraped; returns the JSON documents by reading."""
    docs = []
    for reading in range(READINGS):
        nodes = [WEAR, ECC, UNREAD] + ([LOST] if reading < READINGS - 1 else [])
        argv = [os.path.join(BUILD, "bin/sdsim"), "--now", str(FIRST_READING + reading * 10 * DAY)]
        for node in nodes:
            argv += ["--card", card_file(node, reading)]
        argv += ["--", os.path.join(BUILD, "bin/sdsmart"), "--config",
                 os.path.join(BUILD, "demo/config"), "--state-dir", STATE, "--all",
                 "--prometheus=" + os.path.join(TEXTFILE_DIR, "sdsmart.prom")] + nodes
        done = subprocess.run(argv, capture_output=True, text=True, timeout=300)
        # Exit bits: 4 the card not read, 16 the ECC card's WARNING.
        if done.returncode != 4 | 16:
            sys.exit("reading %d: exit status %d\n%s" % (reading, done.returncode, done.stderr))
        docs.append({})
        for node in nodes:
            path = os.path.join(STATE, "latest", node.rsplit("/", 1)[1] + ".json")
            if node != UNREAD:
                with open(path) as f:
                    docs[-1][node] = json.load(f)
        total = docs[-1][WEAR]["erase_count"]["total"]
        servers.until("reading %d to be scraped" % reading, lambda: (
            value_of(servers, 'sdsmart_block_erases_total{device="%s"}' % WEAR) == total and
            value_of(servers, 'sdsmart_devices{state="found"}') == len(nodes)))
    return docs


# What each target of each panel must show, from the tool's JSON documents:
# (panel title, refId) -> function(labels, docs) giving the value (a number,
# or a predicate on it); docs[-1] is the last reading.
def expected_values():
    last = lambda labels, docs: docs[-1].get(labels.get("device"))

    def field(*path, scale=1):
        def value(labels, docs):
            doc = last(labels, docs)
            for key in path:
                doc = doc[key]
            return doc * scale
        return value

    def read(labels, docs):
        return 1 if labels["device"] in docs[-1] else 0

    def count(verdict):
        return lambda labels, docs: sum(
            d["smart_status"]["verdict"] == verdict for d in docs[-1].values())

    def verdict_code(labels, docs):
        return {"PASSED": 0, "WARNING": 1, "FAILED": 2}[last(labels, docs)["smart_status"]["verdict"]]

    def exit_status(labels, docs):
        doc = last(labels, docs)
        return doc["sdsmart"]["exit_status"] if doc else (lambda v: int(v) & 4 != 0)

    def new_ecc(labels, docs):
        counts = [d[labels["device"]]["ecc"]["uncorrectable"] for d in docs]
        return counts[-1] - min(counts)

    def buckets(labels, docs):
        doc = last(labels, docs)
        rated = doc["life"]["rated_pe_cycles"]
        shares = [v / rated for v in doc["per_vb_erase_counts"] if v is not None]
        bound = math.inf if labels["le"] == "+Inf" else float(labels["le"])
        return sum(s <= bound for s in shares)

    def bad_blocks(labels, docs):
        return last(labels, docs)["blocks"][labels["kind"] + "_bad"]

    def identity(labels, docs):
        serial = "%08x" % last(labels, docs)["card"]["serial_number"]
        return 1 if labels["serial_number"] == serial else "serial number " + labels["serial_number"]

    found = lambda labels, docs: len(docs[-1]) + 1  # and the card not read
    lost = lambda labels, docs: len(docs[0]) - len(docs[-1])
    not_read = lambda labels, docs: 1
    return {
        ("Cards per host", "A"): found,
        ("Cards per host", "B"): lambda labels, docs: len(docs[-1]),
        ("Cards per host", "C"): lost,
        ("Cards per host", "D"): lambda labels, docs: (lambda age: 0 <= age < 3600),
        ("Verdicts", "A"): count("PASSED"),
        ("Verdicts", "B"): count("WARNING"),
        ("Verdicts", "C"): count("FAILED"),
        ("Verdicts", "D"): not_read,
        ("Cards nearest their end", "A"): field("life", "remaining_percent", scale=0.01),
        ("Cards nearest their end", "B"): field("forecast", "limit_timestamp", scale=1000),
        ("Cards nearest their end", "C"): field("forecast", "used_percent_per_day", scale=0.01),
        ("Cards nearest their end", "D"): verdict_code,
        ("Cards nearest their end", "E"): lambda labels, docs: (
            1 if last(labels, docs) is None or last(labels, docs)["sector0"]["intact"] else 0),
        ("Cards nearest their end", "F"): read,
        ("Cards nearest their end", "G"): exit_status,
        ("New uncorrectable ECC errors (last day)", "A"): new_ecc,
        ("New uncorrectable ECC errors (last day)", "B"): field("ecc", "uncorrectable"),
        ("New uncorrectable ECC errors (last day)", "C"): read,
        ("Sector 0, lost and unread cards", "A"): lambda labels, docs: sum(
            not d["sector0"]["intact"] for d in docs[-1].values()),
        ("Sector 0, lost and unread cards", "B"): lost,
        ("Sector 0, lost and unread cards", "C"): not_read,
        ("Remaining life", "A"): field("life", "remaining_percent", scale=0.01),
        ("Forecast", "A"): field("forecast", "limit_timestamp", scale=1000),
        ("Forecast", "B"): field("forecast", "used_percent_per_day", scale=0.01),
        ("Erase counts", "A"): buckets,
        ("Bad and spare blocks", "A"): bad_blocks,
        ("Bad and spare blocks", "B"): field("blocks", "min_spare"),
        ("Power cycles", "A"): field("power", "cycles"),
        ("Power cycles", "B"): field("power", "abnormal_shutdowns"),
        ("Write volume (block erases)", "A"): field("erase_count", "total"),
        ("Identity", "A"): identity,
    }


def story_read(labels, docs):  # the read-status target every card panel carries
    return 1 if labels["device"] in docs[-1] else 0


def substitute(expr, host, device):
    """As Grafana fills a query: a multi-value variable as an escaped regex."""
    escaped = re.sub(r"([\\^$*+?.()|{}\[\]])", r"\\\\\1", host)
    out = expr.replace("$host", escaped).replace("$device", device)
    if "$" in out:
        raise RuntimeError("a variable the test does not know: " + expr)
    return out


def panels_of(dashboard):
    for panel in dashboard["panels"]:
        if panel["type"] == "row":
            yield from panel.get("panels", [])
        else:
            yield panel


def story_panel(panel):
    return any('device="$device"' in t["expr"] for t in panel["targets"])


def check(servers, dashboard, docs):
    """The failures (title, refId, what) of the dashboard's panels on what Prometheus holds now."""
    failures = []
    expected = expected_values()
    for panel in panels_of(dashboard):
        title = panel["title"]
        if not any("sdsmart_smart_read_success" in t["expr"] or "sdsmart_devices" in t["expr"]
                   for t in panel["targets"]):
            failures.append((title, "", "no target tells a card that could not report"))
        # The card panels for a card read and for the card not read: that
        # one's panels must still show it, as not read.
        for device in ([WEAR, UNREAD] if story_panel(panel) else [WEAR]):
            shown = 0
            for target in panel["targets"]:
                key = (title, target["refId"])
                story = "sdsmart_smart_read_success" in target["expr"] and story_panel(panel)
                if key not in expected and not story:
                    failures.append(key + ("no expected value in the test",))
                want = story_read if story else expected.get(key)
                series = servers.query(substitute(target["expr"], servers.instance, device))
                if device == UNREAD and story_panel(panel):
                    for labels, value in series:
                        # A card not read is still known by what sysfs shows
                        # (no maker from a SMART header).
                        if key == ("Identity", "A") and "manufacturer" not in labels:
                            continue
                        if not story or value != 0:
                            failures.append(key + ("%s on the card not read" % value,))
                    shown += len(series)
                    continue
                if not series:
                    failures.append(key + ("no series: " + target["expr"],))
                for labels, value in series:
                    if want is None:
                        continue
                    try:
                        goal = want(labels, docs)
                    except (KeyError, TypeError):
                        goal = "no such value in the tool's documents"
                    ok = goal(value) if callable(goal) else (
                        isinstance(goal, (int, float)) and math.isclose(value, goal, rel_tol=1e-9))
                    if not ok:
                        failures.append(key + ("%s: %r, expected %r" % (
                            labels.get("device", ""), value, goal),))
            if device == UNREAD and shown == 0:
                failures.append((title, "", "nothing shown for the card not read"))
    return failures


def check_variables(servers, dashboard):
    variables = {v["name"]: v for v in dashboard["templating"]["list"]}
    assert variables["datasource"]["type"] == "datasource", variables["datasource"]
    assert variables["datasource"]["query"] == "prometheus"
    text = json.dumps(dashboard)
    uids = set(re.findall(r'"uid": "([^"]*)"', text)) - {"${datasource}", dashboard.get("uid")}
    assert not uids, "data source UIDs of one Grafana: %s" % uids

    def values(name, host=""):
        match = re.fullmatch(r"label_values\((.*), *(\w+)\)", variables[name]["definition"])
        return servers.label_values(substitute(match[1], host, ""), match[2])

    assert values("host") == [servers.instance], values("host")
    devices = values("device", servers.instance)
    assert {WEAR, ECC, UNREAD} <= set(devices), devices


def families(dashboard):
    """The tool's metric families the panels query (a histogram's by its base name)."""
    names = set()
    for panel in panels_of(dashboard):
        for target in panel["targets"]:
            names |= set(re.findall(r"\bsdsmart_\w+", target["expr"]))
    return sorted({re.sub(r"_bucket$", "", n) for n in names})


def write_textfile(text):
    """Replaced atomically, as the tool replaces it."""
    path = os.path.join(TEXTFILE_DIR, "sdsmart.prom")
    with open(path + ".new", "w") as f:
        f.write(text)
    os.rename(path + ".new", path)


def renaming_caught(servers, dashboard, docs, original, family):
    """Whether renaming FAMILY in the textfile fails every panel that uses it."""
    renamed = family.replace("sdsmart_", "sdsmart_renamed_", 1)
    write_textfile(re.sub(r"\b%s(_bucket|_sum|_count)?\b" % family, renamed + r"\1", original))
    servers.until("%s renamed to be scraped" % family, lambda: (
        servers.query('{__name__=~"%s.*"}' % renamed) and
        not servers.query('{__name__=~"%s(_bucket)?"}' % family)))
    caught = {f[0] for f in check(servers, dashboard, docs)}
    users = {p["title"] for p in panels_of(dashboard)
             if any(re.search(r"\b%s(_bucket)?\b" % family, t["expr"]) for t in p["targets"])}
    if not users <= caught:
        print("renaming %s was not caught by %s" % (family, sorted(users - caught)))
    return users <= caught


def main():
    if not all(os.access(os.path.join(SERVERS, "usr/bin", p), os.X_OK)
               for p in ("prometheus", "prometheus-node-exporter")):
        print("no prometheus servers in %s (make test unpacks them): skipped" % SERVERS)
        return 77
    with open(DASHBOARD) as f:
        dashboard = json.load(f)
    shutil.rmtree(WORK, ignore_errors=True)
    for folder in (TEXTFILE_DIR, STATE, os.path.join(WORK, "cards")):
        os.makedirs(folder)
    servers = Servers()
    try:
        docs = run_readings(servers)
        assert docs[-1][WEAR]["forecast"]["limit_timestamp"], "the wearing card has no forecast"
        check_variables(servers, dashboard)
        failures = check(servers, dashboard, docs)
        if failures:
            print("\n".join("%s %s: %s" % f for f in failures))
            return 1
        panels = sum(1 for _ in panels_of(dashboard))
        print("%d panels: every expression answers with the cards' values" % panels)

        # A metric renamed in the textfile fails every panel that shows it.
        with open(os.path.join(TEXTFILE_DIR, "sdsmart.prom")) as f:
            original = f.read()
        names = families(dashboard)
        missed = [n for n in names if not renaming_caught(servers, dashboard, docs, original, n)]
        if missed:
            return 1
        print("renaming any of %d metrics fails the panels that use it" % len(names))
        return 0
    finally:
        servers.stop()


TEXTFILE_DIR = os.path.join(WORK, "textfile")
STATE = os.path.join(WORK, "state")
if __name__ == "__main__":
    sys.exit(main())
