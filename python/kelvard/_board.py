"""Boards, their configuration, fields (virtual ports) and the monitor, over libkelvard."""

from __future__ import annotations

import ctypes
import enum
import math
import re
import threading
import time
from types import TracebackType
from typing import Iterator, NamedTuple, Optional, Union

from . import _library as lib
from ._errors import Error, NotAnswering, NotFound, NotSupported

PIN_COUNT = 27
"""Fields lie within pins 0 to 26: pin n is bit n % 8 of port A, B, C, D for n // 8 = 0 to 3."""

_USB_ID = re.compile(r"[0-9]{1,3}")
_USB_NAME = re.compile(r"(serial|path)=.+")
_COM_NAME = re.compile(r"com([1-9][0-9]{0,8})", re.IGNORECASE)
_TCP_NAME = re.compile(r"tcp:.+")


class Kind(enum.Enum):
    """How a board is attached, which decides what it can do."""

    USB = "usb"
    """Ports A to E, the configuration, analog inputs, fields and the identity. The board
    confirms each port write."""
    COM = "com"
    """Ports A to C over the serial text protocol; the directions of A to C can be set,
    nothing else of the configuration. Writes are not confirmed (see Board.write)."""
    TCP = "tcp"
    """A board on the network (behind ``zorvane serve`` or a network board): ports A to E
    and the configuration; no analog inputs, fields or identity. Writes are not
    confirmed."""


_KINDS = {lib.KIND_USB: Kind.USB, lib.KIND_COM: Kind.COM, lib.KIND_TCP: Kind.TCP}
# The buffer a read of 1 to 5 ports fills, by count.
_PORT_VALUES = [ctypes.c_char * count for count in range(lib.PORTS + 1)]


class Identity(NamedTuple):
    """What a USB board told about itself when it was opened."""

    device_id: int
    """0 to 255; -1 for a board in its bootloader."""
    serial: str
    """The serial number; "" when the board has none."""
    version: str
    """The firmware version as "1.03"; "" in the bootloader."""
    mode: str
    """"application" or "bootloader"."""
    location: str
    """Where the board sits: "1-2.3" on a USB bus, "sim:0" on the simulated bus."""


class Configuration(NamedTuple):
    """The configuration a board holds."""

    directions: dict[str, int]
    """Direction masks of ports "A" to "E": bit set = input."""
    polarity: dict[str, int]
    """Polarity masks of ports "A" to "D": bit set = inverted input."""
    analog_count: int
    """0 to 4: channels E0 up to E(count - 1) are analog inputs."""


def _check_range(what: str, value: object, low: int, high: int) -> int:
    if not isinstance(value, int):
        raise TypeError(f"{what} must be an integer, not {type(value).__name__}")
    if not low <= value <= high:
        raise ValueError(f"{what} must be from {low} to {high}, not {value}")
    return value


def _identity(handle: int) -> Identity:
    f = lib.library()
    boot = f.kelvard_identity_mode(handle) == lib.MODE_BOOTLOADER
    version = f.kelvard_identity_version(handle)
    return Identity(
        f.kelvard_identity_device_id(handle),
        f.kelvard_identity_serial(handle).decode("ascii", "replace"),
        "" if boot else f"{version >> 8}.{version & 0xFF:02d}",
        "bootloader" if boot else "application",
        f.kelvard_identity_location(handle).decode("utf-8", "replace"),
    )


class Board:
    """One board: a USB board named by its device ID ("7"), "serial=TEXT" or "path=LOCATION",
    a COM-port board by its port ("COM3"), a board on the network by "tcp:HOST[:PORT]". Get
    boards from boards() or open().

    Every method is one or a few library calls; any thread may use any board at any time
    (the library serialises the calls on a board). Arguments are checked first and raise
    TypeError or ValueError, with nothing sent. A USB board that has left the bus raises
    NotFound, and is opened again by its name at the next call; a board that does not
    answer raises NotAnswering; what the board's kind cannot do raises NotSupported. Port
    letters are "A" to "E" ("A" to "C" on a COM-port board), in either case.
    """

    __slots__ = ("name", "kind", "ports", "_target", "_handle", "_lock", "_closed", "_read_ports")

    def __init__(self, name: str, kind: Kind, target: Optional[str] = None) -> None:
        self.name: str = name
        """The board's name: "7", "serial=AB12CD34", "COM3", "tcp:lab-pi:9764"."""
        self.kind: Kind = kind
        """Kind.USB, Kind.COM or Kind.TCP."""
        self.ports: tuple[str, ...] = tuple("ABC" if kind is Kind.COM else "ABCDE")
        """The board's port letters."""
        self._target = (target or name).encode("utf-8")
        self._handle: Optional[ctypes.c_void_p] = None
        self._lock = threading.Lock()
        self._closed: list[ctypes.c_void_p] = []  # of a board that left, freed with the object
        self._read_ports = lib.library().kelvard_board_read_ports

    def __repr__(self) -> str:
        return f"<kelvard.Board {self.name} ({self.kind.value})>"

    def __del__(self) -> None:
        close = lib.library().kelvard_board_close
        for handle in [self._handle, *self._closed]:
            if handle:
                close(handle)

    def _open(self, operation: str = "open") -> ctypes.c_void_p:
        with self._lock:
            if self._handle is None:
                handle = ctypes.c_void_p()
                result = lib.library().kelvard_board_open(self._target, ctypes.byref(handle))
                if result != lib.OK:
                    raise self._error(result, operation)
                self._handle = handle
            return self._handle

    def _error(self, result: int, operation: str) -> Exception:
        reason = lib.result_text(result)
        if result in (lib.ERR_NOT_FOUND, lib.ERR_GONE):
            if result == lib.ERR_GONE:
                with self._lock:
                    if self._handle is not None:
                        # Other threads may still be in a call on it: freed with the object.
                        self._closed.append(self._handle)
                        self._handle = None
            return NotFound(self.name, operation, reason)
        if result == lib.ERR_NOT_SUPPORTED:
            return NotSupported(self.name, operation, f"{reason} ({self.kind.value})")
        if result in (lib.ERR_ARGUMENT, lib.ERR_EXISTS, lib.ERR_OVERLAP, lib.ERR_AMBIGUOUS):
            return ValueError(f"board {self.name}: {operation}: {reason}")
        if result == lib.ERR_IO:
            return NotAnswering(self.name, operation, reason)
        return Error(self.name, operation, reason)

    def _usb_or_network(self, operation: str) -> None:
        """A COM-port board cannot tell its configuration and has no analog inputs, fields or
        identity: refused before its port is opened."""
        if self.kind is Kind.COM:
            raise NotSupported(self.name, operation, "not supported by COM-port boards")

    def _port(self, port: object) -> int:
        index = "ABCDE".find(port.upper()) if isinstance(port, str) and len(port) == 1 else -1
        if not 0 <= index < len(self.ports):
            raise ValueError(f"board {self.name} has ports {', '.join(self.ports)}, not {port!r}")
        return index

    def _read(self, count: int, port: Optional[str] = None) -> bytes:
        # The hot path of scripts that poll: nothing is built that only a failure needs.
        handle = self._handle or self._open(_read_operation(port))
        values = _PORT_VALUES[count]()
        result = self._read_ports(handle, values, count)
        if result:
            raise self._error(result, _read_operation(port))
        return values.raw

    def read(self, port: str) -> int:
        """The value of one port, 0 to 255 (bit n = pin n): output pins read back as
        written, input pins as the board sees them (inverted where the polarity says so).
        Each read asks the board."""
        index = self._port(port)
        return self._read(index + 1, port)[index]

    def read_all(self) -> dict[str, int]:
        """Every port of the board, by letter, taken in one exchange."""
        v = self._read(len(self.ports))
        # Spelled out: a third faster than dict(zip()), and this is what polling scripts call.
        if len(v) == 5:
            return {"A": v[0], "B": v[1], "C": v[2], "D": v[3], "E": v[4]}
        return {"A": v[0], "B": v[1], "C": v[2]}

    def write(self, port: str, value: int) -> None:
        """Set the output pins of one port to ``value`` (0 to 255); the other ports keep
        what this object last read or wrote (a USB or network board is read first once).

        A USB board confirms the write: NotAnswering or NotFound when it did not take it.
        COM-port and network boards send no confirmation: a write is done once it went out.
        """
        index = self._port(port)
        _check_range("value", value, 0, 255)
        self._call("kelvard_board_write_port", f"write port {port.upper()}", index, value)

    def write_bit(self, port: str, bit: int, value: Union[bool, int]) -> None:
        """Set (``value`` 1 or True) or clear (0 or False) pin ``bit`` (0 to 7) of a port;
        the other pins keep the values this object last wrote or read. A COM-port board has
        single-pin writes for ports A to C."""
        index = self._port(port)
        _check_range("bit", bit, 0, 7)
        _check_range("value", value, 0, 1)
        self._call("kelvard_board_write_bit", f"write bit {port.upper()}{bit}", index, bit,
                   int(value))

    def configure(
        self, a: int, b: int, c: int, d: Optional[int] = None, e: Optional[int] = None
    ) -> None:
        """Set the pin directions of the ports, one mask (0 to 255) per port: a bit set makes
        that pin an input, a bit clear an output. On a USB or network board ports D and E
        become all inputs when not given; a COM-port board has ports A to C only. Input
        polarity and analog inputs keep what the board holds. Raises NotAnswering when the
        board did not take the configuration."""
        masks = [a, b, c]
        if self.kind is not Kind.COM:
            masks += [0xFF if d is None else d, 0xFF if e is None else e]
        elif d is not None or e is not None:
            raise ValueError(f"board {self.name} has ports A to C only")
        for port, mask in zip("ABCDE", masks):
            _check_range(f"direction mask of port {port}", mask, 0, 255)
        config = lib.Config()
        config.direction[: len(masks)] = masks
        self._change(config, (1 << len(masks)) - 1, "configure")

    def set_polarity(self, a: int, b: int, c: int, d: int) -> None:
        """Invert the inputs of ports A to D, one mask (0 to 255) per port: a bit set
        inverts that pin. Directions and analog inputs keep what the board holds."""
        self._usb_or_network("set polarity")
        config = lib.Config()
        for i, mask in enumerate((a, b, c, d)):
            config.polarity[i] = _check_range(f"polarity mask of port {'ABCD'[i]}", mask, 0, 255)
        self._change(config, lib.CONFIG_ALL_POLARITY, "set polarity")

    def set_analog_count(self, count: int) -> None:
        """Make channels E0 up to E(count - 1) analog inputs (``count`` 0 to 4); everything
        else keeps what the board holds."""
        self._usb_or_network("set analog count")
        config = lib.Config()
        config.analog_count = _check_range("analog input count", count, 0, 4)
        self._change(config, lib.CONFIG_ANALOG_COUNT, "set analog count")

    def configuration(self) -> Configuration:
        """The configuration the board holds. COM-port boards raise NotSupported: they
        cannot tell it."""
        self._usb_or_network("read configuration")
        config = lib.Config()
        self._call("kelvard_board_read_config", "read configuration", ctypes.byref(config))
        return Configuration(
            dict(zip("ABCDE", config.direction)),
            dict(zip("ABCD", config.polarity)),
            config.analog_count,
        )

    def analog(self) -> dict[str, int]:
        """The enabled analog inputs, {"E0": 967, ...} (0 to 1023 each); an empty dict when
        none is enabled. Only USB boards have them."""
        self._usb_or_network("read analog inputs")
        readings = (ctypes.c_uint16 * lib.ANALOG_CHANNELS)()
        count = ctypes.c_uint()
        self._call("kelvard_board_read_analog", "read analog inputs", ctypes.byref(readings),
                   ctypes.byref(count))
        return {f"E{i}": readings[i] for i in range(count.value)}

    @property
    def identity(self) -> Identity:
        """What the USB board told about itself when it was opened: device ID, serial
        number, firmware version, mode and location. Other kinds raise NotSupported."""
        self._usb_or_network("identity")
        handle = self._handle or self._open("identity")
        identity = ctypes.c_void_p()
        result = lib.library().kelvard_board_identity(handle, ctypes.byref(identity))
        if result:
            raise self._error(result, "identity")
        return _identity(identity.value)  # type: ignore[arg-type]

    def field(self, name: str, start: int, width: int, output: bool = True) -> Field:
        """Define a field (virtual port) ``name`` over ``width`` adjacent pins from pin
        ``start`` of this USB board (pins 0 to 26 run over ports A to D, pin n being bit
        n % 8 of port A, B, C, D for n // 8 = 0 to 3). Its pins are written 0 and then made
        outputs, or inputs with ``output=False``; every other setting keeps what the board
        holds. ValueError when the name is taken or the pins overlap another field of the
        board. Use it in a ``with`` block to remove it at the end. Other kinds raise
        NotSupported."""
        self._usb_or_network(f"add field {name!r}")
        encoded = _field_name(name)
        _check_range("start", start, 0, PIN_COUNT - 1)
        _check_range("width", width, 1, PIN_COUNT)
        if start + width > PIN_COUNT:
            last = PIN_COUNT - 1
            raise ValueError(f"a field of {width} pins from pin {start} runs past pin {last}")
        self._call("kelvard_board_add_field", f"add field {name!r}", encoded, start, width,
                   0 if output else 1)
        return Field(self, name, start, width, bool(output))

    def _change(self, config: lib.Config, mask: int, operation: str) -> None:
        self._call("kelvard_board_change_config", operation, ctypes.byref(config), mask)

    def _call(self, function: str, operation: str, *arguments: object) -> None:
        handle = self._handle or self._open(operation)
        result = getattr(lib.library(), function)(handle, *arguments)
        if result:
            raise self._error(result, operation)


def _read_operation(port: Optional[str]) -> str:
    return f"read port {port.upper()}" if port else "read ports"


def _field_name(name: object) -> bytes:
    if not isinstance(name, str):
        raise TypeError(f"a field name is a text, not {type(name).__name__}")
    if not name or "\0" in name:
        raise ValueError(f"a field name is a non-empty text without NUL, not {name!r}")
    return name.encode("utf-8")


class Field:
    """A virtual port: ``width`` adjacent pins from pin ``start`` of a USB board, written
    as one number. Made by Board.field(); a context manager that removes the field on exit.

    The board does not confirm field writes: a transfer that fails is not noticed. A board
    that has left the bus raises NotFound.
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
        self.board._call("kelvard_board_write_field", operation, self._encoded, value)

    def remove(self) -> None:
        """Write the field 0 and remove it; its pins keep their direction. A field whose
        board has left the bus went with it, and a second remove() does nothing."""
        if self._removed:
            return
        self._removed = True
        try:
            self.board._call("kelvard_board_remove_field", f"remove field {self.name!r}",
                             self._encoded)
        except NotFound:
            pass

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
    """The attached USB boards in their application, in the order the bus lists them. Boards
    in their bootloader, boards another program holds and second boards with a device ID
    already taken are left out. Each is opened by its device ID (or, where two boards share
    one, by its location)."""
    f = lib.library()
    listing = ctypes.c_void_p()
    result = f.kelvard_list_boards(ctypes.byref(listing))
    if result:
        raise Error("(all)", "list boards", lib.result_text(result))
    try:
        found = [_identity(f.kelvard_list_get(listing, i))
                 for i in range(f.kelvard_list_count(listing))
                 if f.kelvard_identity_open_result(f.kelvard_list_get(listing, i)) == lib.OK]
    finally:
        f.kelvard_list_free(listing)
    ids = [board.device_id for board in found]
    result_boards: list[Board] = []
    for board in found:
        name = str(board.device_id)
        if board.device_id < 0 or name in (b.name for b in result_boards):
            continue
        target = name if ids.count(board.device_id) == 1 else f"path={board.location}"
        result_boards.append(Board(name, Kind.USB, target))
    return result_boards


def open(name: Union[str, int]) -> Board:  # noqa: A001 (kelvard.open, as gzip.open)
    """The board called ``name``: a USB board's device ID (0 to 255, as text or integer),
    "serial=TEXT" or "path=LOCATION" (as ``zorvane list --long`` prints it); a COM port
    name "COMn" (either case; COM n is the device node that the printf pattern in
    KELVARD_COM_PATTERN makes of n - 1, default /dev/ttyS%d); or "tcp:HOST[:PORT]", a
    board on the network behind ``zorvane serve`` or a network board (port 9764 by default).

    USB and network boards are opened now (NotFound when there is none). A COM port is not
    touched until the first operation, which raises NotFound when the port does not exist.
    """
    if isinstance(name, int) and not isinstance(name, bool):
        text = str(name)
    elif isinstance(name, str):
        text = name
    else:
        raise TypeError(f"a board name is a text or a device ID, not {type(name).__name__}")
    if _USB_ID.fullmatch(text) and int(text) <= 255:
        board = Board(str(int(text)), Kind.USB)
    elif _USB_NAME.fullmatch(text):
        board = Board(text, Kind.USB)
    elif _TCP_NAME.fullmatch(text):
        board = Board(text, Kind.TCP)
    elif _COM_NAME.fullmatch(text):
        return Board(f"COM{_COM_NAME.fullmatch(text).group(1)}", Kind.COM)  # type: ignore[union-attr]
    else:
        raise ValueError(
            "a board name is a device ID from 0 to 255, serial=TEXT, path=LOCATION, a COM "
            f"port such as COM3 or tcp:HOST[:PORT], not {name!r}"
        )
    board._open()
    return board


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
