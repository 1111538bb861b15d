# SPDX-License-Identifier: MIT
"""The tool's state folder, read without privileges and without a card:
STATE/history/ID.jsonl (one reading a line), STATE/cards/ID.json (the
card's last document, with its forecast) and STATE/latest/NODE.json (a link
to the card last read through that node). Nothing here is written."""

import json
import os
from dataclasses import dataclass
from typing import List, Optional

from .errors import SdsmartError
from .report import CardReport, card_report, format_understood

DEFAULT_STATE_DIR = "/var/lib/sdsmart"


@dataclass
class Reading:
    """One line of a card's history: the values of one successful run
    (None for a count that run did not read)."""
    time: int  # seconds since the epoch
    remaining_percent: Optional[float]
    used_percent: Optional[float]
    erase_total: Optional[int]
    erase_average: Optional[int]
    rated_pe_cycles: Optional[int]
    later_bad: Optional[int]
    power_cycles: Optional[int]
    ecc_uncorrectable: Optional[int]
    implausible: bool  # lines of versions before it: False
    verdict: str
    version: str


@dataclass
class History:
    card_id: str
    path: str
    readings: List[Reading]
    skipped: int  # lines that were no reading


_NUMBERS = ("remaining_percent", "used_percent", "erase_total", "erase_average",
            "rated_pe_cycles", "later_bad", "power_cycles")


def _number(v) -> bool:
    return isinstance(v, (int, float)) and not isinstance(v, bool)


def parse_reading(line: str) -> Optional[Reading]:
    """The reading of a history line, None when the line is no reading."""
    try:
        j = json.loads(line)
    except ValueError:
        return None
    if not isinstance(j, dict) or not isinstance(j.get("time"), int) or isinstance(j["time"], bool):
        return None
    if any(k not in j or not (j[k] is None or _number(j[k])) for k in _NUMBERS):
        return None
    ecc = j.get("ecc_uncorrectable")
    implausible = j.get("implausible", False)
    if not (ecc is None or _number(ecc)) or not isinstance(implausible, bool):
        return None
    if not isinstance(j.get("verdict"), str) or not isinstance(j.get("version"), str):
        return None
    return Reading(time=j["time"], **{k: j[k] for k in _NUMBERS}, ecc_uncorrectable=ecc,
                   implausible=implausible, verdict=j["verdict"], version=j["version"])


def _read_text(path: str) -> str:
    try:
        with open(path, "r", encoding="utf-8", errors="replace") as f:
            return f.read()
    except OSError as e:
        raise SdsmartError(f"cannot read {path}: {e.strerror}") from e


def read_history(card_id: str, state_dir: str = DEFAULT_STATE_DIR) -> History:
    """The readings of a card's history, oldest first; lines that are no
    reading (cut off, garbage, a format not understood) are counted in
    skipped. A card without a history has no readings."""
    path = os.path.join(state_dir, "history", card_id + ".jsonl")
    if not os.path.exists(path):
        return History(card_id, path, [], 0)
    readings, skipped = [], 0
    for line in _read_text(path).split("\n"):
        if not line:
            continue
        reading = parse_reading(line)
        if reading is None:
            skipped += 1
        else:
            readings.append(reading)
    return History(card_id, path, readings, skipped)


def _report(path: str) -> CardReport:
    try:
        document = json.loads(_read_text(path))
    except ValueError as e:
        raise SdsmartError(f"{path} holds no JSON document: {e}") from e
    if not format_understood(document):
        raise SdsmartError(f"{path} holds no card document of a format this module reads")
    return card_report(document)


def card_state(card_id: str, state_dir: str = DEFAULT_STATE_DIR) -> CardReport:
    """The card's last document (STATE/cards/ID.json), with its forecast."""
    return _report(os.path.join(state_dir, "cards", card_id + ".json"))


def latest(device: str, state_dir: str = DEFAULT_STATE_DIR) -> CardReport:
    """The document of the card last read through DEVICE (/dev/sdb or sdb)."""
    return _report(os.path.join(state_dir, "latest", os.path.basename(device) + ".json"))


def known_cards(state_dir: str = DEFAULT_STATE_DIR) -> List[str]:
    """The ids of the cards with a state file, sorted."""
    try:
        names = os.listdir(os.path.join(state_dir, "cards"))
    except FileNotFoundError:
        return []
    except OSError as e:
        raise SdsmartError(f"cannot read {state_dir}/cards: {e.strerror}") from e
    return sorted(n[:-5] for n in names if n.endswith(".json") and not n.startswith("."))
