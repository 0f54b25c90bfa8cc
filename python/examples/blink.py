#!/usr/bin/env python3
"""Blink pin B0 of a board.

    python3 python/examples/blink.py --simulate
    python3 python/examples/blink.py --board 7 --count 10      # or --board COM3
"""

import argparse
import time

from _example import board_from_arguments


def main() -> None:
    parser = argparse.ArgumentParser(description="Blink pin B0 of a board.")
    parser.add_argument("--count", type=int, default=5, help="blinks (default 5)")
    parser.add_argument("--period", type=float, default=0.4, help="seconds per blink")
    board, args = board_from_arguments(parser)
    board.configure(0xFF, 0xFE, 0xFF)  # B0 an output, the other pins inputs
    for _ in range(args.count):
        for level in (1, 0):
            board.write("B", level)
            print(f"board {board.name}: B0 = {board.read('B') & 1}", flush=True)
            time.sleep(args.period / 2)


if __name__ == "__main__":
    main()
