#!/usr/bin/env python3
"""Writes many shelves of books, each with its own seed, on every core.

    PYTHONPATH=build/default/python python3 examples/batch.py --count 100 --out shelves

Each shelf is one varlobooks.fill of the same box with seed 0, 1, 2, ...;
a pool of processes shares the work, one library per process. The same
seed always gives the same shelf, so any one can be made again alone.
"""

import argparse
import concurrent.futures
import os
import sys
import time

import varlobooks


def make_shelf(job):
    """One shelf: fill the box with this seed and save it; its book count."""
    seed, box, images, out, extension, edits = job
    shelf = varlobooks.fill(box=box, seed=seed, images=images, edits=edits)
    shelf.save(os.path.join(out, "shelf-%05d%s" % (seed, extension)))
    return shelf.summary.books


def parse_box(text):
    low, high = text.split(":")
    return tuple(float(v) for v in low.split(",")), tuple(float(v) for v in high.split(","))


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--count", type=int, default=20, help="how many shelves (default 20)")
    parser.add_argument("--workers", type=int, default=os.cpu_count(),
                        help="processes (default: one per core)")
    parser.add_argument("--out", default="shelves", help="the folder to write (default shelves)")
    parser.add_argument("--box", type=parse_box, default=((0, 0, 0), (1, 0.5, 0.3)),
                        help="X0,Y0,Z0:X1,Y1,Z1 (default 0,0,0:1,0.5,0.3)")
    parser.add_argument("--format", default=".glb", choices=[".glb", ".gltf", ".obj", ".json"])
    parser.add_argument("--images", help="a folder of cover images")
    parser.add_argument("--set", action="append", default=[], metavar="LABEL=VALUE",
                        help="a panel edit, as modeler fill's --set; repeatable")
    args = parser.parse_args(argv)
    edits = {}
    for edit in args.set:
        label, _, value = edit.partition("=")
        edits[label] = value
    os.makedirs(args.out, exist_ok=True)
    jobs = [(seed, args.box, args.images, args.out, args.format, edits) for seed in range(args.count)]
    start = time.perf_counter()
    with concurrent.futures.ProcessPoolExecutor(max_workers=args.workers) as pool:
        books = sum(pool.map(make_shelf, jobs, chunksize=max(1, args.count // (4 * args.workers))))
    seconds = time.perf_counter() - start
    print("%d shelves, %d books, in %s: %.1f shelves/s with %d workers"
          % (args.count, books, args.out, args.count / seconds, args.workers))
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except varlobooks.VarlobooksError as error:
        print("batch.py: %s" % error, file=sys.stderr)
        sys.exit(1)
