"""What the examples share: the board named on the command line, or a simulated one."""

import argparse
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))  # this checkout's kelvard first
import kelvard  # noqa: E402

__all__ = ["board_from_arguments", "kelvard"]


def board_from_arguments(
    parser: argparse.ArgumentParser,
) -> "tuple[kelvard.Board, argparse.Namespace]":
    """Adds --simulate and --board to ``parser``, parses, and returns the board and the
    arguments; exits with a message when there is no board."""
    parser.add_argument("--simulate", action="store_true", help="use a simulated USB board")
    parser.add_argument("--board", help="device ID or COM port (default: the first USB board)")
    args = parser.parse_args()
    if args.simulate:
        kelvard.use_simulator(boards="id=1")
    try:
        if args.board:
            return kelvard.open(args.board), args
        found = kelvard.boards()
    except (kelvard.Error, ValueError, OSError) as error:
        parser.exit(1, f"{parser.prog}: {error}\n")
    if not found:
        parser.exit(1, f"{parser.prog}: no USB board found (--simulate uses a simulated one)\n")
    return found[0], args
