# SPDX-License-Identifier: MIT
"""Typed results of the tool's JSON documents (``sdsmart --json``).

Every value is what the document holds: None where it is null or absent
(a value the run did not read, or the card's registers not carried), never
0 in its place. Field names are the document's keys.
"""

from dataclasses import dataclass, field, fields
from typing import List, Optional


def _build(cls, obj):
    """cls from the JSON object obj: each field from its key, None when
    absent or null, nested objects through the field's converter."""
    if not isinstance(obj, dict):
        return None
    values = {}
    for f in fields(cls):
        value = obj.get(f.metadata.get("key", f.name))
        convert = f.metadata.get("convert")
        values[f.name] = convert(value) if convert and value is not None else value
    return cls(**values)


def _one(cls):
    return {"convert": lambda v: _build(cls, v)}


def _many(cls):
    return {"convert": lambda v: [_build(cls, x) for x in v] if isinstance(v, list) else None}


@dataclass
class Message:
    severity: Optional[str]  # information, warning or error
    string: Optional[str]


@dataclass
class Run:
    """The tool and the outcome of its run."""
    name: Optional[str]
    version: Optional[str]
    argv: Optional[List[str]]
    messages: Optional[List[Message]] = field(metadata=_many(Message))
    exit_status: Optional[int]


@dataclass
class Device:
    name: Optional[str]
    transport: Optional[str]  # usb or mmc
    health_source: Optional[str]  # vendor_smart or emmc_life (format 1.5)


@dataclass
class LibraryError:
    code: Optional[int]
    message: Optional[str]


@dataclass
class Sector0:
    intact: Optional[bool]  # False: the run left a command pattern there
    recovered: Optional[dict]  # {"journal_time": ...} when restored from a journal first


@dataclass
class Card:
    """The card's identity; the register fields are None unless
    registers_present."""
    manufacturer: Optional[str]
    registers_present: Optional[bool]
    manufacturer_id: Optional[int]
    oem_id: Optional[str]
    product_name: Optional[str]
    customized_id: Optional[str]
    product_revision: Optional[int]
    serial_number: Optional[int]
    manufacturing_date: Optional[str]
    capacity_bytes: Optional[int]
    cid: Optional[str]
    csd: Optional[str]
    scr: Optional[str]
    firmware_version: Optional[str]
    hardware_version: Optional[str]
    mp_version: Optional[str]
    library_version: Optional[str]
    flash_id: Optional[str]
    flash_maker: Optional[str]
    flash_type: Optional[str]
    client_mark: Optional[str]
    header_version: Optional[int]


@dataclass
class SmartStatus:
    passed: Optional[bool]
    verdict: Optional[str]  # PASSED, WARNING or FAILED
    reasons: Optional[List[str]]
    not_read: Optional[List[str]]


@dataclass
class Plausibility:
    plausible: Optional[bool]
    contradictions: Optional[List[str]]


@dataclass
class Life:
    remaining_percent: Optional[float]  # None: cannot be computed
    used_percent: Optional[float]
    rated_pe_cycles: Optional[int]


@dataclass
class EraseBucket:
    low: Optional[int]
    high: Optional[int]
    vbs: Optional[int]


@dataclass
class EraseCount:
    total: Optional[int]
    average: Optional[int]
    min: Optional[int]  # None without select bit 1
    max: Optional[int]
    min_from_header: Optional[int]
    max_from_header: Optional[int]
    offset: Optional[int]
    distribution: Optional[List[EraseBucket]] = field(metadata=_many(EraseBucket))


@dataclass
class Blocks:
    virtual_blocks: Optional[int]
    blocks_per_vb: Optional[int]
    physical_blocks: Optional[int]
    initial_bad: Optional[int]
    later_bad: Optional[int]
    min_spare: Optional[int]
    chip_enables: Optional[int]


@dataclass
class Power:
    cycles: Optional[int]
    abnormal_shutdowns: Optional[int]


@dataclass
class Ecc:
    uncorrectable: Optional[int]  # None without select bit 4
    capacity: Optional[int]


@dataclass
class WriteVolume:
    """Bytes written a day since the same boot and plugging, and the bytes
    the card erased for each byte written (None when not known)."""
    days: Optional[float]
    bytes_per_day: Optional[int]
    write_amplification: Optional[float]
    life_percent_per_tb: Optional[float]  # life used for each TB written, at the wear rate


@dataclass
class Forecast:
    """The wear forecast from the card's history (rates and dates None
    when not known)."""
    card_id: Optional[str]
    status: Optional[str]  # ok, "not enough history", "no wear seen", exhausted
    window_days: Optional[int]
    readings: Optional[int]
    days: Optional[float]
    used_percent_per_day: Optional[float]
    erases_per_day: Optional[float]
    limit_percent: Optional[float]
    limit_date: Optional[str]  # YYYY-MM-DD (UTC)
    limit_timestamp: Optional[int]
    zero_date: Optional[str]
    zero_timestamp: Optional[int]
    skipped_lines: Optional[int]
    write_volume: Optional[WriteVolume] = field(metadata=_one(WriteVolume))


@dataclass
class Reader:
    vendor: Optional[str]
    model: Optional[str]
    serial: Optional[str]


@dataclass
class RegistersHistory:
    """From the history a card read by its registers keeps: its write
    volume."""
    history_file: Optional[str]
    readings: Optional[int]
    write_volume: Optional[WriteVolume] = field(metadata=_one(WriteVolume))


@dataclass
class CardRegisters:
    """What sysfs shows of a card that gave no SMART data (format 1.5): its
    standard registers (hex) and their decoded fields, or its USB reader."""
    cid: Optional[str]
    csd: Optional[str]
    scr: Optional[str]
    ssr: Optional[str]
    ocr: Optional[int]
    manufacturer_id: Optional[int]
    oem_id: Optional[str]
    product_name: Optional[str]
    product_revision: Optional[int]
    serial_number: Optional[int]
    manufacturing_date: Optional[str]  # YYYY-MM
    capacity_bytes: Optional[int]
    node_bytes: Optional[int]
    speed_class: Optional[int]
    uhs_speed_grade: Optional[int]
    video_speed_class: Optional[int]
    au_size_bytes: Optional[int]
    preferred_erase_size_bytes: Optional[int]
    reader: Optional[Reader] = field(metadata=_one(Reader))
    history: Optional[RegistersHistory] = field(metadata=_one(RegistersHistory))


@dataclass
class EmmcBand:
    """An eMMC life estimate: the raw value and the share of the rated life
    used, in percent; None bounds for a value not reported or reserved, no
    upper bound once the life is exceeded."""
    value: Optional[int]
    used_from_percent: Optional[int]
    used_to_percent: Optional[int]
    text: Optional[str]


@dataclass
class PreEol:
    value: Optional[int]  # 1 normal, 2 warning, 3 urgent
    text: Optional[str]


@dataclass
class EmmcHistory:
    """From the eMMC's history: the higher band since when, and when the
    last band (90-100 % used) is reached at the pace of its band changes."""
    history_file: Optional[str]
    readings: Optional[int]
    status: Optional[str]  # ok, "not enough history", "last band reached", ...
    band: Optional[int]
    band_since_date: Optional[str]
    last_band_date: Optional[str]
    last_band_timestamp: Optional[int]
    write_volume: Optional[WriteVolume] = field(metadata=_one(WriteVolume))


@dataclass
class Emmc:
    """An eMMC's own life estimate, read without writing."""
    life_time_a: Optional[EmmcBand] = field(metadata=_one(EmmcBand))
    life_time_b: Optional[EmmcBand] = field(metadata=_one(EmmcBand))
    pre_eol: Optional[PreEol] = field(metadata=_one(PreEol))
    history: Optional[EmmcHistory] = field(metadata=_one(EmmcHistory))
    source: Optional[str] = field(default=None, metadata={"key": "from"})  # sysfs or ext_csd


@dataclass
class CardReport:
    """One card's document (of ``sdsmart --json DEVICE``, an entry of
    ``--all``, or a state file). Everything from card on is None unless the
    acquisition succeeded; error is set when it failed."""
    json_format_version: Optional[List[int]]
    sdsmart: Optional[Run] = field(metadata=_one(Run))
    device: Optional[Device] = field(metadata=_one(Device))
    error: Optional[LibraryError] = field(metadata=_one(LibraryError))
    sector0: Optional[Sector0] = field(metadata=_one(Sector0))
    registers: Optional[CardRegisters] = field(metadata=_one(CardRegisters))
    emmc: Optional[Emmc] = field(metadata=_one(Emmc))
    card: Optional[Card] = field(metadata=_one(Card))
    smart_status: Optional[SmartStatus] = field(metadata=_one(SmartStatus))
    plausibility: Optional[Plausibility] = field(metadata=_one(Plausibility))
    life: Optional[Life] = field(metadata=_one(Life))
    write_protect_status: Optional[int]
    erase_count: Optional[EraseCount] = field(metadata=_one(EraseCount))
    blocks: Optional[Blocks] = field(metadata=_one(Blocks))
    power: Optional[Power] = field(metadata=_one(Power))
    ecc: Optional[Ecc] = field(metadata=_one(Ecc))
    per_vb_erase_counts: Optional[List[Optional[int]]]
    per_vb_read_counts: Optional[List[Optional[int]]]
    forecast: Optional[Forecast] = field(metadata=_one(Forecast))

    @property
    def card_id(self) -> Optional[str]:
        """The card's CID in hexadecimal, as its history is named."""
        if self.forecast and self.forecast.card_id:
            return self.forecast.card_id
        return self.card.cid if self.card else None

    @property
    def verdict(self) -> Optional[str]:
        return self.smart_status.verdict if self.smart_status else None

    @property
    def exit_status(self) -> Optional[int]:
        return self.sdsmart.exit_status if self.sdsmart else None


# The major format version this module reads: a later one may have renamed
# keys, which would read as values not read.
FORMAT_MAJOR = 1


def format_understood(document) -> bool:
    """Whether a whole document (not an entry of --all) is of a format
    version this module reads."""
    version = document.get("json_format_version") if isinstance(document, dict) else None
    return isinstance(version, list) and len(version) == 2 and version[0] == FORMAT_MAJOR


def card_report(document) -> Optional[CardReport]:
    """A CardReport of a parsed JSON document; None when it is no object."""
    return _build(CardReport, document)
