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
    """No board answers to the name: a USB board that was never attached or has left the
    bus, a COM port that does not exist, a network address where nobody listens."""


class NotAnswering(Error):
    """The board is known but the exchange failed: a USB board that did not answer, a
    COM-port board that sent no reply in time, a network board that did not answer."""


class NotSupported(Error):
    """The board's kind cannot do this: COM-port boards have no ports D and E, no analog
    inputs and cannot tell their configuration; fields, analog inputs and the identity are
    USB board operations."""
