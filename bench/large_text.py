#!/usr/bin/env python3
"""Measures score2wav on scores whose text is large but whose sound is not:
2 GB of NUL bytes without a bar, one 100 MB chord of "2d ", 10 MB of random
bytes, 400,000 different four-note chords of one sample, each written twice
(a 7.6 MB score that fills the chord cache), and 10 million chords "1d|" of
1 ms (an 80 MB WAV), with the echo to a file and to a pipe; and two UTF-16
scores whose warnings send the reader far back, and the 100 MB chord as
UTF-16 (against the plain file's row above it): 2.56 million blanks before
a note that no bar ends, and 40 chords of an "x" and a million blanks.

For each, the median CPU time (user and system) and wall time of the
program, of its floor, and the program's peak memory (maximum resident set
size, from GNU time). The floor is reading the file twice (`cat FILE >
/dev/null`, twice), and for the short chords also writing the WAV's bytes in
256 KiB blocks (`dd`).

    python3 bench/large_text.py --program build/score2wav [--runs 5] [--only "100 MB"]
        [--baseline other/score2wav]

With --baseline, another build runs on the same files, its runs taking
turns with the program's, and gets a row of its own: the machine's speed
drifts, and builds compared in one hour, run by run, drift alike.

The files go to a temporary folder beside the program (2.2 GB of disk).
"""
import itertools
import os
import random
import statistics
import subprocess
import tempfile

from bench import compared_programs, floor_argv, peak_memory_kib, timed_cpu


def make_files(folder, only):
    """Returns {name: score path} of the scores whose name holds only."""
    files = {}
    path = os.path.join(folder, "nul.txt")
    with open(path, "wb") if "NUL" in only or not only else open(os.devnull, "wb") as f:
        block = b"\0" * (1 << 24)
        for _ in range(2000000000 // len(block)):
            f.write(block)
        f.write(b"\0" * (2000000000 % len(block)))
    files["2 GB of NUL bytes, no bar"] = path
    path = os.path.join(folder, "chord.txt")
    with open(path, "wb") as f:
        f.write(b"0.001\n" + b"2d " * (100000000 // 3) + b"|")
    files["a 100 MB chord of '2d '"] = path
    path16 = os.path.join(folder, "chord16.txt")
    if only in "UTF-16, the 100 MB chord":
        with open(path, "rb") as plain, open(path16, "wb") as f:
            f.write(b"\xff\xfe" + plain.read().decode("latin-1").encode("utf-16-le"))
    files["UTF-16, the 100 MB chord"] = path16
    path = os.path.join(folder, "random.txt")
    with open(path, "wb") as f:
        f.write(random.Random(10).randbytes(10000000))
    files["10 MB of random bytes"] = path
    path = os.path.join(folder, "cache.txt")
    notes = [b"%d%c" % (pitch // 7, b"drmfslt"[pitch % 7]) for pitch in range(28)]
    with open(path, "wb") as f:
        f.write(b"0.0001\n")
        for four in itertools.islice(itertools.permutations(range(28), 4), 400000):
            chord = b"".join(notes[i] for i in four)
            f.write(chord + b"|" + chord + b"|\n")
    files["400,000 chords, each twice"] = path
    path = os.path.join(folder, "short.txt")
    with open(path, "wb") as f:
        f.write(b"0.001\n" + b"1d|" * 10000000)
    files["10 M chords '1d|', to a file"] = path
    files["10 M chords '1d|', to a pipe"] = path
    path = os.path.join(folder, "blanks16.txt")
    with open(path, "wb") as f:
        f.write(b"\xff\xfe" + ("0.1\n2d|" + " " * 2560000 + "d").encode("utf-16-le"))
    files["UTF-16, 2.56 M blanks, a note"] = path
    path = os.path.join(folder, "far16.txt")
    with open(path, "wb") as f:
        f.write(b"\xff\xfe" + ("0.001\n" + ("x" + " " * 1000000 + "|") * 40).encode("utf-16-le"))
    files["UTF-16, 40 far-back warnings"] = path
    return {name: path for name, path in files.items() if only in name}


def floor(path, folder, wav_bytes):
    """Reads the file twice, and writes wav_bytes in 256 KiB blocks if any."""
    wall, cpu = 0.0, 0.0
    for _ in range(2):
        w, c, _ = timed_cpu(["cat", path])
        wall, cpu = wall + w, cpu + c
    if wav_bytes:
        w, c, _ = timed_cpu(floor_argv(wav_bytes, os.path.join(folder, "floor.bin")))
        wall, cpu = wall + w, cpu + c
    return wall, cpu


def run_program(program, path, into_pipe, folder):
    """Runs the program with its echo into a file, or into a pipe that cat reads."""
    if not into_pipe:
        with open(os.path.join(folder, "echo.txt"), "wb") as echo:
            return timed_cpu([program, path], stdout=echo)[:2]
    reader = subprocess.Popen(["cat"], stdin=subprocess.PIPE, stdout=subprocess.DEVNULL)
    try:
        return timed_cpu([program, path], stdout=reader.stdin)[:2]
    finally:
        reader.stdin.close()
        reader.wait()


def main():
    options, programs = compared_programs(5)
    with tempfile.TemporaryDirectory(dir=os.path.dirname(programs[0])) as folder:
        for name, path in make_files(folder, options.only).items():
            into_pipe = name.endswith("to a pipe")
            run_program(programs[0], path, into_pipe, folder)  # the file is now in the page cache
            output = path[:-4] + ".wav"
            writes = name.startswith("10 M chords")
            wav_bytes = os.path.getsize(output) if writes and os.path.exists(output) else 0
            runs = {program: [] for program in programs}
            floor_runs = []
            for _ in range(options.runs):
                for program in programs:
                    runs[program].append(run_program(program, path, into_pipe, folder))
                floor_runs.append(floor(path, folder, wav_bytes))
            floor_cpu = statistics.median(c for _, c in floor_runs)
            floor_wall = statistics.median(w for w, _ in floor_runs)
            for program in programs:
                peak = peak_memory_kib([program, path])
                cpu = statistics.median(c for _, c in runs[program])
                wall = statistics.median(w for w, _ in runs[program])
                print("%-30s %-9s CPU %7.3f s wall %7.3f s   floor CPU %7.3f s wall %7.3f s   "
                      "ratio CPU %5.1f wall %5.1f   peak memory %s" % (
                          name, "score2wav" if program == programs[0] else "baseline", cpu, wall,
                          floor_cpu, floor_wall, cpu / floor_cpu, wall / floor_wall,
                          "%.1f MiB" % (peak / 1024) if peak is not None else "not measured (install GNU time)"))


if __name__ == "__main__":
    main()
