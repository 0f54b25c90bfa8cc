"""Boards, their fields (virtual ports) and the monitor, over the library's exports."""

from __future__ import annotations

import ctypes
import enum
import math
import re
import time
from types import TracebackType
from typing import Any, Iterator, NamedTuple, Optional, Union

from . import _library
from ._errors import Error, NotAnswering, NotFound, NotSupported

PIN_COUNT = 27
"""Fields lie within pins 0 to 26: pin n is bit n % 8 of port A, B, C, D for n // 8 = 0 to 3."""

_USB_NAME = re.compile(r"[0-9]{1,3}")
_COM_NAME = re.compile(r"com([1-9][0-9]{0,8})", re.IGNORECASE)


class Kind(enum.Enum):
    """How a board is attached, which decides what it can do."""

    USB = "usb"
    """Ports A to E, fields; no single-bit writes. The board confirms each port write."""
    COM = "com"
    """Ports A to C and single-bit writes over the serial text protocol; no fields. Writes
    are not confirmed (see Board.write)."""


def _check_range(what: str, value: object, low: int, high: int) -> int:
    if not isinstance(value, int):
        raise TypeError(f"{what} must be an integer, not {type(value).__name__}")
    if not low <= value <= high:
        raise ValueError(f"{what} must be from {low} to {high}, not {value}")
    return value


def _by_letter(lib: ctypes.CDLL, prefix: str, letters: str) -> dict[str, Any]:
    """The export ``prefix + letter`` of each port, under the letter in either case."""
    functions = {p: getattr(lib, prefix + p) for p in letters}
    functions.update({p.lower(): f for p, f in functions.items()})
    return functions


class Board:
    """One board, named as the library names it: a USB board by its device ID ("7"), a
    COM-port board by its port ("COM3"). Get boards from boards() or open().

    Every method is one or a few library calls; any thread may use any board at any time
    (the library serialises the calls). Arguments are checked first and raise TypeError or
    ValueError, with nothing sent. A USB board that has left the bus raises NotFound; a board
    that does not answer raises NotAnswering. Port letters are "A" to "E" ("A" to "C" on a
    COM-port board), in either case.
    """

    __slots__ = ("name", "kind", "ports", "_lib", "_bname", "_reads", "_writes", "_bits")

    def __init__(self, name: str, kind: Kind) -> None:
        lib = _library.library()
        self.name: str = name
        """The name the library knows the board by: "7" or "COM3"."""
        self.kind: Kind = kind
        """Kind.USB or Kind.COM."""
        self.ports: tuple[str, ...] = tuple("ABCDE" if kind is Kind.USB else "ABC")
        """The board's port letters."""
        self._lib = lib
        self._bname = name.encode("ascii")
        self._reads = _by_letter(lib, "ReadBytePort", "".join(self.ports))
        self._writes = _by_letter(lib, "WriteBytePort", "".join(self.ports))
        self._bits = _by_letter(lib, "WriteBitPort", "ABC") if kind is Kind.COM else {}

    def __repr__(self) -> str:
        return f"<kelvard.Board {self.name} ({self.kind.value})>"

    def read(self, port: str) -> int:
        """The value of one port, 0 to 255 (bit n = pin n): output pins read back as
        written, input pins as the board sees them. Each read asks the board."""
        read = self._reads.get(port)
        if read is None:
            raise self._bad_port(port)
        value = ctypes.c_uint8()
        if not read(self._bname, ctypes.byref(value)):
            raise self._failure(f"read port {port.upper()}")
        return value.value

    def read_all(self) -> dict[str, int]:
        """Every port of the board, by letter. A COM-port board answers ports A to C in one
        exchange; a USB board is asked once per port, so the five values are not taken at
        one instant."""
        if self.kind is Kind.USB:
            return {port: self.read(port) for port in self.ports}
        a, b, c = ctypes.c_uint8(), ctypes.c_uint8(), ctypes.c_uint8()
        byref = ctypes.byref
        if not self._lib.ReadBytePorts(self._bname, byref(a), byref(b), byref(c)):
            raise self._failure("read ports A to C")
        return {"A": a.value, "B": b.value, "C": c.value}

    def write(self, port: str, value: int) -> None:
        """Set the output pins of one port to ``value`` (0 to 255).

        A USB board receives all five ports at once, the others as this process last wrote
        or read them, and confirms the write: NotAnswering or NotFound when it did not take
        it. A COM-port board sends no confirmation and the library cannot tell a written line
        from a lost one, so nothing is raised: read() the port to check. A COM port that does
        not exist shows in read() and configure().
        """
        write = self._writes.get(port)
        if write is None:
            raise self._bad_port(port)
        _check_range("value", value, 0, 255)
        if not write(self._bname, value) and self.kind is Kind.USB:
            raise self._failure(f"write port {port.upper()}")

    def write_bit(self, port: str, bit: int, value: Union[bool, int]) -> None:
        """Set (``value`` 1 or True) or clear (0 or False) pin ``bit`` (0 to 7) of port A, B
        or C of a COM-port board; the other pins keep the values this process last wrote or
        read. Unconfirmed, as write() on a COM-port board. USB boards raise NotSupported:
        write the whole port instead."""
        if self.kind is Kind.USB:
            raise NotSupported(self.name, "write bit", "USB boards take whole ports only")
        write = self._bits.get(port)
        if write is None:
            raise self._bad_port(port)
        _check_range("bit", bit, 0, 7)
        write(self._bname, bit, _check_range("value", value, 0, 1))

    def configure(
        self, a: int, b: int, c: int, d: Optional[int] = None, e: Optional[int] = None
    ) -> None:
        """Set the pin directions of the ports, one mask (0 to 255) per port: a bit set makes
        that pin an input, a bit clear an output. On a USB board ports D and E become all
        inputs when not given; a COM-port board has ports A to C only. Raises NotAnswering
        when the board (USB) or the COM port did not take the configuration. A USB board is
        configured without inverted or analog inputs."""
        masks = [a, b, c]
        if self.kind is Kind.USB:
            masks += [0xFF if d is None else d, 0xFF if e is None else e]
        elif d is not None or e is not None:
            raise ValueError(f"board {self.name} has ports A to C only")
        for port, mask in zip("ABCDE", masks):
            _check_range(f"direction mask of port {port}", mask, 0, 255)
        masks += [0xFF] * (5 - len(masks))
        if not self._lib.ConfigurePortsEx(self._bname, *masks, 0):
            raise self._failure("configure")

    def field(self, name: str, start: int, width: int, output: bool = True) -> Field:
        """Define a field (virtual port) ``name`` over ``width`` adjacent pins from pin
        ``start`` of this USB board (pins 0 to 26 run over ports A to D, pin n being bit
        n % 8 of port A, B, C, D for n // 8 = 0 to 3). Its pins are written 0 and then made
        outputs, or inputs with ``output=False``. ValueError when the name is taken or the
        pins overlap another field of the board. Use it in a ``with`` block to remove it at
        the end. COM-port boards raise NotSupported."""
        operation = f"add field {name!r}"
        if self.kind is not Kind.USB:
            raise NotSupported(self.name, operation, "fields exist on USB boards only")
        encoded = _field_name(name)
        _check_range("start", start, 0, PIN_COUNT - 1)
        _check_range("width", width, 1, PIN_COUNT)
        if start + width > PIN_COUNT:
            last = PIN_COUNT - 1
            raise ValueError(f"a field of {width} pins from pin {start} runs past pin {last}")
        self._require_present(operation)
        result = self._lib.AddVirtualPort(int(self.name), encoded, start, width, 0 if output else 1)
        if result == 1:
            raise ValueError(f"field {name!r} would overlap another field of board {self.name}")
        if result == 2:
            raise ValueError(f"board {self.name} already has a field named {name!r}")
        return Field(self, name, start, width, bool(output))

    def _bad_port(self, port: object) -> ValueError:
        return ValueError(f"board {self.name} has ports {', '.join(self.ports)}, not {port!r}")

    def _require_present(self, operation: str) -> None:
        if self.name not in _library.usb_names():
            raise NotFound(self.name, operation, "the board has left the bus")

    def _failure(self, operation: str) -> Error:
        if self.kind is Kind.COM:
            reason = "the exchange over the COM port failed (is the port there, a board on it?)"
            return NotAnswering(self.name, operation, reason)
        self._require_present(operation)
        return NotAnswering(self.name, operation, "the board did not answer")


def _field_name(name: object) -> bytes:
    if not isinstance(name, str):
        raise TypeError(f"a field name is a text, not {type(name).__name__}")
    if not name or "\0" in name:
        raise ValueError(f"a field name is a non-empty text without NUL, not {name!r}")
    return name.encode("utf-8")


class Field:
    """A virtual port: ``width`` adjacent pins from pin ``start`` of a USB board, written
    as one number. Made by Board.field(); a context manager that removes the field on exit.

    The library does not confirm field writes: a transfer that fails is not noticed. What
    the module checks is that the board is still on the bus (NotFound otherwise).
    """

    __slots__ = ("board", "name", "start", "width", "output", "_encoded", "_removed")

    def __init__(self, board: Board, name: str, start: int, width: int, output: bool) -> None:
        self.board: Board = board
        """The board the field lies on."""
        self.name: str = name
        """The field's name, unique on its board (case counts)."""
        self.start: int = start
        """The lowest pin of the field."""
        self.width: int = width
        """The number of pins."""
        self.output: bool = output
        """True when the pins were made outputs, False for inputs."""
        self._encoded = name.encode("utf-8")
        self._removed = False

    def __repr__(self) -> str:
        pins = f"pins {self.start} to {self.start + self.width - 1}"
        return f"<kelvard.Field {self.name!r} of board {self.board.name}: {pins}>"

    def write(self, value: int) -> None:
        """Set the field's pins to ``value`` (0 to 2**width - 1, lowest pin = bit 0); the
        board's other pins keep the values this process last wrote or read. This sends
        ports A to D four times, the last with the complete new state."""
        operation = f"write field {self.name!r}"
        if self._removed:
            raise Error(self.board.name, operation, "the field has been removed")
        _check_range("value", value, 0, (1 << self.width) - 1)
        self.board._require_present(operation)
        self.board._lib.WriteVirtualPort(int(self.board.name), self._encoded, value)

    def remove(self) -> None:
        """Write the field 0 and remove it; its pins keep their direction. A field whose
        board has left the bus went with it, and a second remove() does nothing."""
        if self._removed:
            return
        self._removed = True
        if self.board.name in _library.usb_names():
            self.board._lib.RemoveVirtualPort(int(self.board.name), self._encoded)

    def __enter__(self) -> Field:
        return self

    def __exit__(
        self,
        kind: Optional[type[BaseException]],
        error: Optional[BaseException],
        trace: Optional[TracebackType],
    ) -> None:
        self.remove()


class Change(NamedTuple):
    """A reading of a monitored board that differs from the one before it."""

    time: float
    """Seconds since monitoring began."""
    ports: dict[str, int]
    """Every port's value, by letter."""
    changed: tuple[str, ...]
    """The letters of the ports that differ from the reading before (all of them at first)."""


def boards() -> list[Board]:
    """Find the attached USB boards and return them in the library's order. Boards in
    their bootloader and second boards with a device ID already taken are left out. After
    the first call the library follows plugging and unplugging by itself."""
    _library.library().Initialize()
    return [Board(name, Kind.USB) for name in _library.usb_names()]


def open(name: Union[str, int]) -> Board:  # noqa: A001 (kelvard.open, as gzip.open)
    """The board called ``name``: a USB board's device ID (0 to 255, as text or integer)
    or a COM port name "COMn" (either case; COM n is the device node that the printf pattern
    in KELVARD_COM_PATTERN makes of n - 1, default /dev/ttyS%d).

    A USB board must be attached (NotFound otherwise; the boards are looked for again first
    when it is not known yet). A COM port is not touched until the first operation, which
    raises NotAnswering when the port does not exist or no board answers on it.
    """
    if isinstance(name, int) and not isinstance(name, bool):
        text = str(name)
    elif isinstance(name, str):
        text = name
    else:
        raise TypeError(f"a board name is a text or a device ID, not {type(name).__name__}")
    if _USB_NAME.fullmatch(text) and int(text) <= 255:
        usb_name = str(int(text))
        if usb_name not in _library.usb_names():
            _library.library().Initialize()
            if usb_name not in _library.usb_names():
                raise NotFound(usb_name, "open", "no USB board has this device ID")
        return Board(usb_name, Kind.USB)
    com = _COM_NAME.fullmatch(text)
    if com:
        return Board(f"COM{com.group(1)}", Kind.COM)
    raise ValueError(
        f"a board name is a device ID from 0 to 255 or a COM port such as COM3, not {name!r}"
    )


def monitor(board: Board, interval: float = 0.1) -> Iterator[Change]:
    """Read every port of ``board`` every ``interval`` seconds and yield a Change at the
    start and whenever a value differs from the reading before. A read that fails raises
    (and ends the iteration); stop it by leaving the loop. A late reading moves the schedule
    on rather than catching up in a burst."""
    if not isinstance(interval, (int, float)) or not (interval > 0 and math.isfinite(interval)):
        raise ValueError(f"interval must be a positive number of seconds, not {interval!r}")
    return _monitor(board, float(interval))


def _monitor(board: Board, interval: float) -> Iterator[Change]:
    start = due = time.monotonic()
    last: Optional[dict[str, int]] = None
    while True:
        ports = board.read_all()
        if ports != last:
            changed = tuple(p for p in ports if last is None or ports[p] != last[p])
            yield Change(time.monotonic() - start, ports, changed)
            last = ports
        due = max(due + interval, time.monotonic())
        time.sleep(max(0.0, due - time.monotonic()))
