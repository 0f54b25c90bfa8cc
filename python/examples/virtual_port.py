#!/usr/bin/env python3
"""Write a number to a field (virtual port) of four pins, A4 to A7, and watch port A.

    python3 python/examples/virtual_port.py --simulate
    python3 python/examples/virtual_port.py --board 7
"""

import argparse

from _example import board_from_arguments


def main() -> None:
    parser = argparse.ArgumentParser(description="Count on a 4-pin field from pin A4.")
    parser.add_argument("--count", type=int, default=16, help="values to write (default 16)")
    board, args = board_from_arguments(parser)
    with board.field("nibble", start=4, width=4) as nibble:  # A4..A7, outputs
        for value in range(args.count):
            nibble.write(value % 16)
            print(f"nibble = {value % 16:2d}   port A = {board.read('A'):#04x}", flush=True)
    print(f"field removed: port A = {board.read('A'):#04x}")


if __name__ == "__main__":
    main()
