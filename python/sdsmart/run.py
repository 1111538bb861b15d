# SPDX-License-Identifier: MIT
"""Running the sdsmart tool and taking its JSON document.

Every run has a time limit. When it is over, the tool is sent SIGTERM, on
which it stops at its next transfer, leaves the vendor command state and
restores the card's sector 0; only a run still going after a grace is
killed (its sector-0 journal stays, and the next run restores the card).
"""

import json
import subprocess
from dataclasses import dataclass, field
from typing import List, Optional, Sequence

from .errors import SdsmartError, ToolError
from .report import CardReport, Run, _build, _many, _one, card_report, format_understood

# The tool's exit bits (sdsmart(1), EXIT STATUS).
EXIT_COMMAND_LINE = 1 << 0
EXIT_OPEN_FAILED = 1 << 1
EXIT_ACQUISITION = 1 << 2
EXIT_HEALTH_FAILED = 1 << 3
EXIT_HEALTH_WARNING = 1 << 4
EXIT_OUTPUT = 1 << 5
EXIT_SECTOR0 = 1 << 6

# A card run of the tool ends within its own --timeout (default 300 s) and
# grace; this leaves it time for that.
TOOL_CARD_TIMEOUT = 300
DEFAULT_TIMEOUT = TOOL_CARD_TIMEOUT + 30.0
# After SIGTERM: the time the tool has to restore sector 0 before SIGKILL.
TERMINATE_GRACE = 10.0


@dataclass
class AllReport:
    """The document of ``sdsmart --all --json``: the cards read, in the
    order of the scan, and the cards that failed, as errors."""
    json_format_version: Optional[List[int]]
    sdsmart: Optional[Run] = field(metadata=_one(Run))
    devices: Optional[List[CardReport]] = field(metadata=_many(CardReport))

    @property
    def exit_status(self) -> Optional[int]:
        return self.sdsmart.exit_status if self.sdsmart else None

    @property
    def cards(self) -> List[CardReport]:
        return [d for d in self.devices or [] if failure(d) is None]

    @property
    def failures(self) -> List[SdsmartError]:
        return [e for e in (failure(d) for d in self.devices or []) if e is not None]


def failure(report: CardReport) -> Optional[SdsmartError]:
    """The error of a card's document, or None when its card was read.

    A card failed when its document has the library's error, or no card
    section (the device did not open, the guard refused it, the run did
    not end), whatever the exit status says.
    """
    status = report.exit_status
    device = report.device.name if report.device else None
    messages = report.sdsmart.messages if report.sdsmart and report.sdsmart.messages else []
    if report.error is not None:
        return SdsmartError(report.error.message or "", code=report.error.code, device=device,
                            exit_status=status, messages=messages)
    if report.card is None:
        errors = [m.string for m in messages if m and m.severity == "error" and m.string]
        text = errors[-1] if errors else f"the card was not read (exit status {status})"
        return SdsmartError(text, device=device, exit_status=status, messages=messages)
    return None


def run_tool(args: Sequence[str], *, program: str = "sdsmart", prefix: Sequence[str] = (),
             timeout: float = DEFAULT_TIMEOUT, device: Optional[str] = None):
    """Runs PREFIX PROGRAM ARGS within timeout seconds; returns its exit
    status and its standard output parsed as JSON. Raises ToolError when it
    cannot be run, does not finish in time or prints no JSON document."""
    command = [*prefix, program, *args]
    try:
        child = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE, close_fds=True)
    except OSError as e:
        raise ToolError(f"cannot run {program}: {e.strerror or e}", device=device) from e
    try:
        out, err = child.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        child.terminate()
        try:
            child.communicate(timeout=TERMINATE_GRACE)
        except subprocess.TimeoutExpired:
            child.kill()
            child.communicate()
        raise ToolError(f"{program} did not finish within {timeout:g} s (stopped)",
                        device=device, exit_status=None) from None
    try:
        document = json.loads(out.decode("utf-8"))
    except (UnicodeDecodeError, ValueError):
        document = None
    if not isinstance(document, dict):
        said = err.decode("utf-8", "replace").strip().splitlines()
        why = f": {said[-1]}" if said else ""
        raise ToolError(f"{program} printed no JSON document (exit status {child.returncode}){why}",
                        device=device, exit_status=child.returncode)
    if not format_understood(document):
        raise ToolError(f"{program} printed a document of format "
                        f"{document.get('json_format_version')}, which this module does not read",
                        device=device, exit_status=child.returncode, document=document)
    return child.returncode, document


def _options(state_dir, config, select, extra):
    args = []
    if config is not None:
        args += ["--config", str(config)]
    if state_dir is not None:
        args += ["--state-dir", str(state_dir)]
    if select is not None:
        args += ["--select", str(select)]
    return args + [str(a) for a in extra]


def read_card(device: str, *, select: Optional[int] = None, state_dir=None, config=None,
              extra_args: Sequence[str] = (), program: str = "sdsmart",
              prefix: Sequence[str] = (), timeout: float = DEFAULT_TIMEOUT) -> CardReport:
    """Reads one card with ``sdsmart --json DEVICE``.

    Returns its report (the verdict may be WARNING or FAILED: the card was
    read); raises SdsmartError when the card was not read, ToolError when
    the tool gave no document. prefix goes before the program (sudo -n, or
    the virtual card's launcher ``sdsim --card FILE --``).
    """
    args = ["--json", *_options(state_dir, config, select, extra_args), "--", device]
    status, document = run_tool(args, program=program, prefix=prefix, timeout=timeout,
                                device=device)
    report = card_report(document)
    error = failure(report)
    if error is not None:
        error.document = document
        if error.exit_status is None:
            error.exit_status = status
        raise error
    return report


def read_all(candidates: Sequence[str] = (), *, jobs: Optional[int] = None,
             select: Optional[int] = None, state_dir=None, config=None,
             extra_args: Sequence[str] = (), program: str = "sdsmart",
             prefix: Sequence[str] = (), timeout: Optional[float] = None) -> AllReport:
    """Reads every card of the host (or the candidates given) with
    ``sdsmart --all --json``; a card that fails is in failures, the others
    in cards. Raises ToolError when the tool gave no document. The default
    timeout gives each wave of at most jobs cards the time of one card's
    run (all cards are one wave without jobs)."""
    if timeout is None:
        timeout = (_card_timeout(extra_args) *
                   _waves(candidates, jobs, program, prefix))
    extra = list(extra_args) + (["--jobs", str(jobs)] if jobs is not None else [])
    args = ["--all", "--json", *_options(state_dir, config, select, extra)]
    if candidates:
        args += ["--", *candidates]
    _, document = run_tool(args, program=program, prefix=prefix, timeout=timeout)
    return _build(AllReport, document)


def _card_timeout(extra_args: Sequence[str]) -> float:
    """The time of one card's run: the tool's --timeout among the extra
    arguments with the same margin as its default, or the default."""
    words = [str(a) for a in extra_args]
    for i, word in enumerate(words):
        value = (word.split("=", 1)[1] if word.startswith("--timeout=") else
                 words[i + 1] if word == "--timeout" and i + 1 < len(words) else None)
        if value is not None and value.isdigit():
            return float(value) + DEFAULT_TIMEOUT - TOOL_CARD_TIMEOUT
    return DEFAULT_TIMEOUT


def _waves(candidates: Sequence[str], jobs: Optional[int], program: str,
           prefix: Sequence[str]) -> int:
    """How many cards' runs follow one another under --jobs: the
    candidates, or the cards sdsmart --scan finds (it writes nothing)."""
    if not jobs:
        return 1
    if candidates:
        cards = len(candidates)
    else:
        _, scan = run_tool(["--scan", "--json"], program=program, prefix=prefix,
                           timeout=DEFAULT_TIMEOUT)
        cards = len(scan.get("devices") or [])
    return max(1, -(-cards // max(jobs, 1)))
