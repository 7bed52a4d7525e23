#!/usr/bin/env python3
"""Measures score2wav on scores whose text is large but whose sound is not:
2 GB of NUL bytes without a bar, one 100 MB chord of "2d ", 10 MB of random
bytes, and 400,000 different four-note chords of one sample, each written
twice (a 7.6 MB score that fills the chord cache). Prints the median time of the program and of reading the file
twice (`cat FILE > /dev/null`, twice), and the program's peak memory
(maximum resident set size, from GNU time).

    python3 bench/large_text.py --program build/score2wav [--runs 5]

The files go to a temporary folder beside the program (2.1 GB of disk).
"""
import argparse
import itertools
import os
import random
import statistics
import subprocess
import tempfile
import time

from bench import peak_memory_kib


def make_files(folder):
    files = {}
    files["2 GB of NUL bytes, no bar"] = os.path.join(folder, "nul.txt")
    with open(files["2 GB of NUL bytes, no bar"], "wb") as f:
        block = b"\0" * (1 << 24)
        for _ in range(2000000000 // len(block)):
            f.write(block)
        f.write(b"\0" * (2000000000 % len(block)))
    files["a 100 MB chord of '2d '"] = os.path.join(folder, "chord.txt")
    with open(files["a 100 MB chord of '2d '"], "wb") as f:
        f.write(b"0.001\n" + b"2d " * (100000000 // 3) + b"|")
    files["10 MB of random bytes"] = os.path.join(folder, "random.txt")
    with open(files["10 MB of random bytes"], "wb") as f:
        f.write(random.Random(10).randbytes(10000000))
    files["400,000 chords, each twice"] = os.path.join(folder, "cache.txt")
    notes = [b"%d%c" % (pitch // 7, b"drmfslt"[pitch % 7]) for pitch in range(28)]
    with open(files["400,000 chords, each twice"], "wb") as f:
        f.write(b"0.0001\n")
        for four in itertools.islice(itertools.permutations(range(28), 4), 400000):
            chord = b"".join(notes[i] for i in four)
            f.write(chord + b"|" + chord + b"|\n")
    return files


def timed(argv):
    start = time.perf_counter()
    subprocess.run(argv, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


def read_twice(path):
    start = time.perf_counter()
    for _ in range(2):
        subprocess.run(["cat", path], stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", default="build/score2wav")
    parser.add_argument("--runs", type=int, default=5)
    options = parser.parse_args()
    program = os.path.abspath(options.program)
    with tempfile.TemporaryDirectory(dir=os.path.dirname(program)) as folder:
        for name, path in make_files(folder).items():
            timed([program, path])  # the file is now in the page cache
            program_times, floor_times = [], []
            for _ in range(options.runs):
                program_times.append(timed([program, path]))
                floor_times.append(read_twice(path))
            peak = peak_memory_kib([program, path])
            print("%-28s score2wav %7.3f s   reading it twice %7.3f s   peak memory %s" % (
                name, statistics.median(program_times), statistics.median(floor_times),
                "%.1f MiB" % (peak / 1024) if peak is not None else "not measured (install GNU time)"))


if __name__ == "__main__":
    main()
