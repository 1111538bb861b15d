# SPDX-License-Identifier: MIT
"""The errors of the module: a card or a run of the tool that failed."""

from typing import Optional


class SdsmartError(Exception):
    """A failure the tool reported, or a run of it that gave no document.

    code and message are the library's error (the document's ``error``
    object) when the acquisition failed; code is None when the failure was
    not the library's (a device that does not open, a refusal of the device
    guard, a run that timed out): message is then the tool's own last error
    message. exit_status is the tool's exit status (its bits), None when it
    did not exit by itself.
    """

    def __init__(self, message: str, *, code: Optional[int] = None,
                 device: Optional[str] = None, exit_status: Optional[int] = None,
                 messages: tuple = (), document: Optional[dict] = None):
        self.code = code
        self.message = message
        self.device = device
        self.exit_status = exit_status
        self.messages = list(messages)
        self.document = document
        where = f"{device}: " if device else ""
        what = f"library error {code}: " if code is not None else ""
        super().__init__(f"{where}{what}{message}")


class ToolError(SdsmartError):
    """The tool could not be run, did not finish in time, or printed no
    JSON document: never taken for an empty success."""
