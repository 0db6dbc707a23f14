#!/usr/bin/env python3
"""Shelves per second through the Python package with 1 and 2 worker
processes, and the ratio of the two: the batch example's scaling.

    PYTHONPATH=build/bench/python python3 bench/batch_bench.py [--count N] [--books B]

Each shelf is a fill of a box about B books long (MaxSize 0.08), saved as
.glb into a scratch folder; each worker count runs the same seeds.
"""

import argparse
import os
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples"))
import batch  # noqa: E402


def shelves_per_second(workers, count, books):
    with tempfile.TemporaryDirectory() as out:
        box = "0,0,0:%g,0.5,0.3" % (books * 0.08)
        start = time.perf_counter()
        batch.main(["--count", str(count), "--workers", str(workers), "--out", out, "--box", box])
        return count / (time.perf_counter() - start)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--count", type=int, default=100)
    parser.add_argument("--books", type=int, default=1000)
    args = parser.parse_args()
    shelves_per_second(1, 4, args.books)  # warm the disk cache and the library
    one = shelves_per_second(1, args.count, args.books)
    two = shelves_per_second(2, args.count, args.books)
    print("| workers | shelves/s |\n|---|---|\n| 1 | %.1f |\n| 2 | %.1f |" % (one, two))
    print("2 workers / 1 worker: %.2fx (%d shelves of about %d books, %d cores)"
          % (two / one, args.count, args.books, os.cpu_count()))


if __name__ == "__main__":
    main()
