"""kelvard on the simulated bus: bytes on the wire, arguments, errors, monitor, threads."""

from concurrent.futures import ThreadPoolExecutor
from typing import Any, Callable, List, Tuple

import pytest

import kelvard

ZEROS = "00 00 00 00 00"
CONFIG_READ = ["0 > 38 00 00 00 00 00 00 00 00 00 00", "0 < 38 ff 00 ff 00 ff 00 ff 00 ff 00"]
COM = "COM80"  # no port: only argument checks use it


def run_steps(steps: List[Tuple[Callable[[], Any], Any, Any]], sent: Callable[[], Any]) -> None:
    for number, (step, result, wire) in enumerate(steps):
        assert (step(), sent()) == (result, wire), f"step {number}"


def test_usb_board_gets_exactly_these_bytes(wire: Callable[[], List[str]]) -> None:
    board = kelvard.open("7")  # instance 0; no other test uses it
    wire()
    field: List[kelvard.Field] = []
    read_kept = ["0 > 38 00 00 00 00 00 00 00 00 00 00", "0 < 38 ff 00 00 00 ff 33 ff 00 ff 02"]
    run_steps([
        (lambda: board.read("A"), 0, ["0 > 36 " + ZEROS, "0 < 36 " + ZEROS]),
        (lambda: board.set_polarity(0, 0, 0x33, 0), None,
         CONFIG_READ + ["0 > 39 ff 00 ff 00 ff 33 ff 00 ff 00"]),
        (lambda: board.set_analog_count(2), None,
         ["0 > 38 00 00 00 00 00 00 00 00 00 00", "0 < 38 ff 00 ff 00 ff 33 ff 00 ff 00",
          "0 > 39 ff 00 ff 00 ff 33 ff 00 ff 02"]),
        (lambda: board.configure(0xFF, 0, 0xFF), None,
         ["0 > 38 00 00 00 00 00 00 00 00 00 00", "0 < 38 ff 00 ff 00 ff 33 ff 00 ff 02",
          "0 > 39 ff 00 00 00 ff 33 ff 00 ff 02"]),
        (lambda: board.configuration(), kelvard.Configuration(
            dict(A=0xFF, B=0, C=0xFF, D=0xFF, E=0xFF), dict(A=0, B=0, C=0x33, D=0), 2), read_kept),
        (lambda: board.analog(), {"E0": 0, "E1": 0}, ["0 > 3d", "0 < 3d 02 00 00 00 00 00 00 00 00"]),
        (lambda: board.write("B", 0x5A), None, ["0 > 37 00 5a 00 00 00"]),
        (lambda: board.write_bit("B", 0, 1), None, ["0 > 37 00 5b 00 00 00"]),
        (lambda: board.read("b"), 0x5B, ["0 > 36 " + ZEROS, "0 < 36 00 5b 33 00 00"]),
        (lambda: field.append(board.field("nibble", 4, 4)), None,
         read_kept + ["0 > 37 00 5b 33 00 00"] * 4 + ["0 > 39 0f 00 00 00 ff 33 ff 00 ff 02"]),
        (lambda: field[0].write(5), None, ["0 > 37 50 5b 33 00 00"] * 4),
        (lambda: field[0].__exit__(None, None, None), None, ["0 > 37 00 5b 33 00 00"] * 4),
    ], wire)


def test_identity_is_told_at_opening(wire: Callable[[], List[str]]) -> None:
    board = kelvard.open("serial=AB12CD34")
    wire()
    assert board.identity == kelvard.Identity(4, "AB12CD34", "1.02", "application", "sim:2")
    assert [b.name for b in kelvard.boards()] == ["7", "9", "4"]
    assert not [line for line in wire() if line.startswith("2 ")]  # the open board is not asked


def test_com_port_board_gets_exactly_these_lines(com_board: Tuple[kelvard.Board, Any]) -> None:
    board, line = com_board
    run_steps([
        (lambda: board.configure(0xFF, 0x00, 0xFF), None, "C,255,0,255,0"),
        (lambda: board.write("B", 0x5A), None, "O,0,90,0"),
        (lambda: board.write_bit("A", 3, True), None, "PO,A,3,1"),
        (lambda: board.read("B"), 0x5A, "I"),
        (lambda: board.read_all(), {"A": 0, "B": 0x5A, "C": 0}, "I"),
    ], line)


def test_network_board_over_tcp(net_address: str) -> None:
    board = kelvard.open(f"tcp:{net_address}")
    board.configure(0xFF, 0x00, 0xFF, 0xFF, 0xFF)
    board.set_analog_count(3)
    board.write("B", 0x5A)
    assert (board.kind, board.read_all()["B"], board.configuration().analog_count) == \
        (kelvard.Kind.TCP, 0x5A, 3)
    for call in (board.analog, lambda: board.identity, lambda: board.field("f", 0, 1)):
        pytest.raises(kelvard.NotSupported, call)


@pytest.mark.parametrize("target, method, arguments, error", [
    ("9", "read", ("F",), ValueError), ("9", "read", (0,), ValueError),
    ("9", "write", ("A", 256), ValueError), ("9", "write", ("A", -1), ValueError),
    ("9", "write", ("A", 1.0), TypeError), ("9", "configure", (0, 0, 0, 0, 256), ValueError),
    ("9", "configure", (-1, 0, 0), ValueError), ("9", "field", ("f", 27, 1), ValueError),
    ("9", "field", ("f", 0, 0), ValueError), ("9", "field", ("f", 20, 8), ValueError),
    ("9", "field", ("", 0, 1), ValueError), ("9", "field", (b"f", 0, 1), TypeError),
    ("9", "set_polarity", (0, 0, 0, 256), ValueError), ("9", "set_analog_count", (5,), ValueError),
    (COM, "read", ("D",), ValueError), (COM, "write", ("E", 0), ValueError),
    (COM, "write_bit", ("D", 0, 1), ValueError), (COM, "write_bit", ("A", 8, 1), ValueError),
    (COM, "write_bit", ("A", 0, 2), ValueError), (COM, "configure", (0, 0, 0, 0), ValueError),
    ("", "open", ("COM0",), ValueError), ("", "open", ("256",), ValueError),
    ("", "open", (-1,), ValueError), ("", "open", ("board",), ValueError),
    ("", "open", (7.0,), TypeError), ("", "monitor", (None, 0), ValueError),
    ("", "monitor", (None, float("nan")), ValueError),
])
def test_bad_arguments_raise_before_anything_is_sent(
        target: str, method: str, arguments: Tuple[Any, ...], error: type,
        wire: Callable[[], List[str]]) -> None:
    subject = kelvard.open(target) if target else kelvard
    wire()
    with pytest.raises(error):
        getattr(subject, method)(*arguments)
    assert wire() == []


def test_field_values_and_conflicts_are_checked(wire: Callable[[], List[str]]) -> None:
    board = kelvard.open(9)
    with board.field("low", 0, 3) as low:
        wire()
        for value in (8, -1):
            pytest.raises(ValueError, low.write, value)
        assert wire() == []
        pytest.raises(ValueError, board.field, "low", 8, 1)  # the name is taken
        pytest.raises(ValueError, board.field, "next", 2, 2)  # pin 2 is taken
        board.field("next", 3, 2).remove()  # bordering is fine
    pytest.raises(kelvard.Error, low.write, 1)


@pytest.mark.parametrize("call, board, operation, error", [
    (lambda: kelvard.open("8"), "8", "open", kelvard.NotFound),
    (lambda: kelvard.open("tcp:127.0.0.1:1"), "tcp:127.0.0.1:1", "open", kelvard.NotFound),
    (lambda: kelvard.open("COM90").read("A"), "COM90", "read port A", kelvard.NotFound),
    (lambda: kelvard.open("com91").configure(0, 0, 0), "COM91", "configure", kelvard.NotFound),
    (lambda: kelvard.open("COM92").analog(), "COM92", "read analog inputs", kelvard.NotFound),
])
def test_missing_and_failing_boards_raise_naming_board_and_operation(
        call: Callable[[], Any], board: str, operation: str, error: "type[kelvard.Error]") -> None:
    with pytest.raises(error, match=f"^board {board}: {operation}: ") as raised:
        call()
    assert (raised.value.board, raised.value.operation) == (board, operation)


def test_simulator_cannot_be_chosen_once_the_library_is_loaded() -> None:
    kelvard.boards()
    pytest.raises(RuntimeError, kelvard.use_simulator, "id=1")


def test_monitor_yields_the_start_and_each_change() -> None:
    board = kelvard.open(9)
    board.configure(0xFF, 0x00, 0xFF)
    board.write("B", 1)
    changes = kelvard.monitor(board, interval=0.001)
    first = next(changes)
    board.write("B", 2)
    second = next(changes)
    assert (first.changed, first.ports["B"], second.changed, second.ports["B"]) == \
        (("A", "B", "C", "D", "E"), 1, ("B",), 2) and second.time > first.time


def test_two_threads_share_one_board() -> None:
    board = kelvard.open(9)
    board.configure(0x00, 0xFF, 0x00)
    wrong: List[Tuple[str, int]] = []

    def count_on(port: str) -> None:  # each thread reads back its own port's last value
        for value in range(2000):
            board.write(port, value & 0xFF)
            if board.read(port) != value & 0xFF:
                wrong.append((port, value))

    with ThreadPoolExecutor(2) as pool:
        list(pool.map(count_on, "AC"))  # and any exception of a thread
    assert wrong == [] and board.read_all()["A"] == board.read_all()["C"] == 1999 & 0xFF
