#!/usr/bin/env python3
"""Print the ports of a board whenever they change. With --simulate a second thread counts
on port B, so there are changes to see.

    python3 python/examples/monitor.py --simulate
    python3 python/examples/monitor.py --board 7 --count 100
"""

import argparse
import itertools
import threading

from _example import board_from_arguments, kelvard


def count_on_port_b(board: kelvard.Board, stop: threading.Event) -> None:
    """Plays the world outside a simulated board: port B counts up, every 50 ms."""
    value = 0
    while not stop.wait(0.05):
        value = (value + 1) % 256
        board.write("B", value)


def main() -> None:
    parser = argparse.ArgumentParser(description="Print the ports of a board as they change.")
    parser.add_argument("--count", type=int, default=5, help="changes to print (default 5)")
    parser.add_argument("--interval", type=float, default=0.02, help="seconds between reads")
    board, args = board_from_arguments(parser)
    stop = threading.Event()
    counter = threading.Thread(target=count_on_port_b, args=(board, stop))
    if args.simulate:
        board.configure(0xFF, 0x00, 0xFF)  # port B outputs: they read back what is written
        counter.start()
    try:
        for change in itertools.islice(kelvard.monitor(board, args.interval), args.count):
            ports = " ".join(f"{port}={value:#04x}" for port, value in change.ports.items())
            print(f"{change.time:7.3f} {ports}   changed: {','.join(change.changed)}", flush=True)
    finally:
        stop.set()
        if counter.is_alive():
            counter.join()


if __name__ == "__main__":
    main()
