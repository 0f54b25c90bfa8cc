#!/usr/bin/env python3
"""Read the analog inputs E0 to E3 of a USB board, leaving its other settings as they are.

    python3 python/examples/analog.py --simulate
    python3 python/examples/analog.py --board 7 --channels 2 --count 10
"""

import argparse
import time

from _example import board_from_arguments


def main() -> None:
    parser = argparse.ArgumentParser(description="Read the analog inputs of a USB board.")
    parser.add_argument("--channels", type=int, default=4, help="analog inputs, E0 upwards (0-4)")
    parser.add_argument("--count", type=int, default=5, help="readings (default 5)")
    parser.add_argument("--period", type=float, default=0.5, help="seconds between readings")
    board, args = board_from_arguments(parser)
    board.set_analog_count(args.channels)  # directions and polarity stay as the board holds them
    for _ in range(args.count):
        readings = board.analog()  # {"E0": 967, ...}, 0 to 1023 each
        print(" ".join(f"{channel}={value}" for channel, value in readings.items()), flush=True)
        time.sleep(args.period)


if __name__ == "__main__":
    main()
