# SPDX-License-Identifier: MIT
"""SD card health from the sdsmart tool, for fleet scripts.

read_card and read_all run the tool (``sdsmart --json``) with a time limit
and give its document as dataclasses: a value the tool did not read is
None, never 0. A card that was not read raises SdsmartError with the
library's code and message; a tool that cannot run, times out or prints no
JSON raises ToolError. read_history, card_state and latest read the tool's
state folder without privileges.
"""

from .errors import SdsmartError, ToolError
from .report import (Blocks, Card, CardReport, Device, Ecc, EraseBucket, EraseCount, Forecast,
                     LibraryError, Life, Message, Plausibility, Power, Run, Sector0, SmartStatus,
                     card_report, format_understood)
from .run import (DEFAULT_TIMEOUT, EXIT_ACQUISITION, EXIT_COMMAND_LINE, EXIT_HEALTH_FAILED,
                  EXIT_HEALTH_WARNING, EXIT_OPEN_FAILED, EXIT_OUTPUT, EXIT_SECTOR0, AllReport,
                  failure, read_all, read_card, run_tool)
from .state import (DEFAULT_STATE_DIR, History, Reading, card_state, known_cards, latest,
                    parse_reading, read_history)

__all__ = [name for name in dir() if not name.startswith("_")]
