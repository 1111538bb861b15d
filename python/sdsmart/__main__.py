# SPDX-License-Identifier: MIT
"""python3 -m sdsmart [options] [CANDIDATE...]: one line per card of
``sdsmart --all``; the exit status is the tool's (its bits), 4 when the
tool gave no document, 1 for a command line not understood."""

import argparse
import sys

from . import failure, read_all
from .errors import SdsmartError
from .run import DEFAULT_TIMEOUT, EXIT_ACQUISITION, EXIT_COMMAND_LINE


def summary(report) -> str:
    """DEVICE CARD-ID VERDICT life ... forecast end ..."""
    life = report.life.remaining_percent if report.life else None
    forecast = report.forecast
    words = [report.device.name if report.device else "?", report.card_id or "-",
             report.verdict or "-",
             "life not read" if life is None else f"life {life:.2f} %"]
    if forecast and forecast.limit_date:
        words.append(f"forecast end {forecast.limit_date}")
    return " ".join(words)


def failed(error: SdsmartError) -> str:
    code = f"library error {error.code}: " if error.code is not None else ""
    return f"{error.device or '?'} - not read: {code}{error.message}"


class _Parser(argparse.ArgumentParser):
    def error(self, message):
        self.print_usage(sys.stderr)
        self.exit(EXIT_COMMAND_LINE, f"{self.prog}: error: {message}\n")


def main(argv=None) -> int:
    p = _Parser(prog="python3 -m sdsmart", description="One line per SD card: device, card id, "
                "verdict, remaining life, forecast end.")
    p.add_argument("candidates", nargs="*", help="card nodes or glob patterns (default: --scan)")
    p.add_argument("--program", default="sdsmart", help="the sdsmart tool (default: on PATH)")
    p.add_argument("--state-dir", help="the tool's state folder")
    p.add_argument("--config", help="the tool's configuration file")
    p.add_argument("--select", help="detail selector (0 to 7)")
    p.add_argument("--timeout", type=float, default=DEFAULT_TIMEOUT,
                   help="seconds the tool may take (default %(default)g)")
    a = p.parse_args(argv)
    try:
        result = read_all(a.candidates, select=a.select, state_dir=a.state_dir, config=a.config,
                          program=a.program, timeout=a.timeout)
    except SdsmartError as e:
        print(f"sdsmart: {e}", file=sys.stderr)
        return EXIT_ACQUISITION
    for report in result.devices or []:
        error = failure(report)
        print(failed(error) if error else summary(report))
    if not result.devices:
        print("no card found", file=sys.stderr)
    return result.exit_status if result.exit_status is not None else EXIT_ACQUISITION


if __name__ == "__main__":
    sys.exit(main())
