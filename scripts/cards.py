#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""docs/cards.md from the recordings in tests/data/recordings: one row per
card model seen. `make cards` writes it; `cards.py --check ROOT` fails when
the file in ROOT is not what the corpus gives."""
import glob
import json
import os
import sys

HEAD = """# Cards seen

Made by `make cards` from the recordings in `tests/data/recordings/` (each
replayed by `make test`); do not edit by hand. A card model is listed once,
with every transport, reader, SMART format version and tool version it was
recorded with. Recordings named `sdsim-*` are of the project's own virtual
cards, not of real ones. To add a card, see
[reporting-a-card.md](reporting-a-card.md).

| card | hardware | firmware | flash | capacity | transport | reader | SMART format | tool | recordings |
|---|---|---|---|---|---|---|---|---|---|
"""

# Readings without the vendor path: cards of other families, models never to
# be written, eMMC. Their recordings name the model as sysfs does.
READ_ONLY_HEAD = """
## Read without the vendor path

Cards of other controller families, models a `cards.conf` marks
`path=never`, and eMMC: read from their standard registers (and an eMMC's
life estimate) without anything written. A card here is not shown to refuse
the vendor path: the tool ships no list of models never to be written, as
none of these recordings is of a real card.

| name | type | maker id | OEM id | date | capacity | health source | tool | recordings |
|---|---|---|---|---|---|---|---|---|
"""


def capacity(sectors):
    size = sectors * 512
    for unit in ("TB", "GB", "MB"):
        scale = {"TB": 1e12, "GB": 1e9, "MB": 1e6}[unit]
        if size >= scale:
            return "%.1f %s" % (size / scale, unit)
    return "%d bytes" % size


def cell(values):
    return ", ".join(sorted(v for v in values if v)) or "-"


def heads(root):
    for path in sorted(glob.glob(os.path.join(root, "tests/data/recordings/*.rec"))):
        with open(path, encoding="utf-8") as f:
            yield path, json.loads(f.readline())


def read_only_rows(root):
    models = {}
    for path, head in heads(root):
        card, model = head["card"], head.get("model") or {}
        if "health_source" not in card:
            continue
        key = tuple(model.get(k) or "-" for k in ("name", "type", "manfid", "oemid", "date")) + (
            capacity(card["capacity_sectors"]),)
        seen = models.setdefault(key, {k: set() for k in ("source", "tool", "file")})
        seen["source"].add(card["health_source"])
        seen["tool"].add(head["tool_version"])
        seen["file"].add(os.path.basename(path))
    for key, seen in sorted(models.items()):
        yield "| " + " | ".join(list(key) + [cell(seen[k]) for k in
                                            ("source", "tool", "file")]) + " |\n"


def rows(root):
    models = {}
    for path, head in heads(root):
        card, model = head["card"], head.get("model") or {}
        if "health_source" in card:
            continue
        reader = card.get("reader") or {}
        key = (model.get("manufacturer", "?"), model.get("hardware_version", "?"),
               model.get("firmware_version", "?"),
               "%s (%s)" % (model.get("flash_id", "?"), model.get("flash_type", "?")),
               capacity(card["capacity_sectors"]))
        seen = models.setdefault(key, {k: set() for k in
                                       ("transport", "reader", "smart", "tool", "file")})
        seen["transport"].add(card["transport"])
        seen["reader"].add(" ".join(filter(None, (reader.get("usb_id"), reader.get("vendor"),
                                                  reader.get("model")))))
        result = "" if head["result"]["code"] == 0 else " (failed: %d)" % head["result"]["code"]
        seen["smart"].add("%d%s" % (head["smart_version"], result))
        seen["tool"].add(head["tool_version"])
        seen["file"].add(os.path.basename(path))
    for key, seen in sorted(models.items()):
        yield "| " + " | ".join(list(key) + [cell(seen[k]) for k in
                                            ("transport", "reader", "smart", "tool", "file")]) + " |\n"


def main():
    check = "--check" in sys.argv[1:]
    args = [a for a in sys.argv[1:] if a != "--check"]
    root = args[0] if args else os.path.join(os.path.dirname(__file__), "..")
    text = HEAD + "".join(rows(root)) + READ_ONLY_HEAD + "".join(read_only_rows(root))
    target = os.path.join(root, "docs/cards.md")
    if not check:
        with open(target, "w", encoding="utf-8") as f:
            f.write(text)
        return 0
    with open(target, encoding="utf-8") as f:
        if f.read() != text:
            print("docs/cards.md is not what the recordings give: run make cards", file=sys.stderr)
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
