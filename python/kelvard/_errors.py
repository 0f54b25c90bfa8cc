"""The exceptions a board operation raises. Bad arguments raise ValueError instead."""

from __future__ import annotations


class Error(Exception):
    """A board could not do what was asked. ``board`` is the board's name, ``operation``
    what was asked of it; the message names both."""

    def __init__(self, board: str, operation: str, reason: str) -> None:
        super().__init__(f"board {board}: {operation}: {reason}")
        self.board = board
        self.operation = operation


class NotFound(Error):
    """No USB board has this device ID: it was never attached, or it has left the bus."""


class NotAnswering(Error):
    """The board is known but the exchange failed: a USB board that did not answer, a COM
    port that does not open, or a COM-port board that sent no reply in time."""


class NotSupported(Error):
    """The board's kind cannot do this: single bits are COM-port operations, fields
    (virtual ports) USB operations."""
