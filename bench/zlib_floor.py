#!/usr/bin/env python3
"""Prints the processor time that zlib itself needs to deflate every file of a
corpus at a level, on one thread: the work any engine that calls zlib at that
level has to do, whatever else it does well.

    zlib_floor.py DIR [LEVEL]      (LEVEL 9 unless given)
"""
import os
import sys
import time
import zlib


def main():
    root = sys.argv[1]
    level = int(sys.argv[2]) if len(sys.argv) > 2 else 9
    seconds = 0.0
    packed = 0
    total = 0
    for folder, _, names in os.walk(root):
        for name in sorted(names):
            with open(os.path.join(folder, name), "rb") as f:
                data = f.read()
            start = time.process_time()
            c = zlib.compressobj(level, zlib.DEFLATED, -15)
            packed += len(c.compress(data)) + len(c.flush())
            seconds += time.process_time() - start
            total += len(data)
    print(f"zlib {zlib.ZLIB_RUNTIME_VERSION} level {level}: {seconds:.2f} s of processor time "
          f"for {total} bytes, {packed} deflated")


if __name__ == "__main__":
    main()
