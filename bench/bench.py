#!/usr/bin/env python3
"""Measures score2wav against the time of merely writing the same bytes.

Generates two one-hour scores (7200 chords of 0.5 s, three notes each): a
song whose 24 triads repeat, and one in which every chord differs. Runs, in
turn and alternately, the program, the write floor `head -c N /dev/zero >
file` for the program's output size N, and sox synthesising three mixed
sawtooths for an hour (when installed). Prints median times, the ratios to
the floor, and peak memory (maximum resident set size). Last, the cost of
the echo, one line and one write per chord: the song with standard output
going to /dev/null, to a file and to a pipe.

    python3 bench/bench.py --program build/score2wav [--runs 21]
    python3 bench/bench.py --write-scores FOLDER   (only writes the two scores)
"""
import argparse
import os
import random
import shutil
import statistics
import subprocess
import tempfile
import time

NOTES = "drmfslt"


def chord(rng):
    return "".join("%d%s" % (rng.randint(0, 3), rng.choice(NOTES)) for _ in range(3))


def make_scores(folder):
    rng = random.Random(7200)
    triads = [chord(rng) for _ in range(24)]
    song = "0.5 a one-hour song: 24 triads over and over\n"
    song += "\n".join(triads[i % 24] + " |" for i in range(7200)) + "\n"
    seen, distinct = set(), []
    while len(distinct) < 7200:
        c = chord(rng)
        if c not in seen:
            seen.add(c)
            distinct.append(c + " |")
    paths = {}
    for name, text in (("song", song), ("distinct", "0.5 one hour, no chord twice\n" + "\n".join(distinct) + "\n")):
        paths[name] = os.path.join(folder, name + ".txt")
        with open(paths[name], "w") as f:
            f.write(text)
    return paths


def timed(argv, stdout=subprocess.DEVNULL):
    """Runs argv; returns (seconds, exit status)."""
    start = time.perf_counter()
    status = subprocess.run(argv, stdin=subprocess.DEVNULL, stdout=stdout, stderr=subprocess.DEVNULL).returncode
    return time.perf_counter() - start, status


def timed_into_pipe(argv):
    """Runs argv with standard output into a pipe that cat reads; returns seconds."""
    start = time.perf_counter()
    reader = subprocess.Popen(["cat"], stdin=subprocess.PIPE, stdout=subprocess.DEVNULL)
    subprocess.run(argv, stdin=subprocess.DEVNULL, stdout=reader.stdin, stderr=subprocess.DEVNULL)
    reader.stdin.close()
    reader.wait()
    return time.perf_counter() - start


def echo_cost(program, score, folder, runs):
    """Median times of the program with its echo going to /dev/null, a file and a pipe."""
    times = {"/dev/null": [], "a file": [], "a pipe": []}
    echo_file = os.path.join(folder, "echo.txt")
    for _ in range(runs):
        times["/dev/null"].append(timed([program, score])[0])
        with open(echo_file, "wb") as f:
            times["a file"].append(timed([program, score], stdout=f)[0])
        times["a pipe"].append(timed_into_pipe([program, score]))
    print("echo of the song's 7200 chords, standard output to:")
    for what, values in times.items():
        print("  %-10s median %8.1f ms" % (what, statistics.median(values) * 1000))


def peak_memory_kib(argv):
    """Maximum resident set size of argv, from GNU time (a child forked from
    this Python process would count Python's own pages as well)."""
    gnu_time = shutil.which("time") or ("/usr/bin/time" if os.path.exists("/usr/bin/time") else None)
    if not gnu_time:
        return None
    result = subprocess.run([gnu_time, "-f", "%M"] + argv, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    return int(result.stderr.strip().splitlines()[-1])  # the last line, after any warnings


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", default="build/score2wav")
    parser.add_argument("--runs", type=int, default=21)
    parser.add_argument("--write-scores", metavar="FOLDER", help="write the two scores there and stop")
    options = parser.parse_args()
    if options.write_scores:
        for path in make_scores(options.write_scores).values():
            print(path)
        return
    program = os.path.abspath(options.program)
    sox = shutil.which("sox")
    with tempfile.TemporaryDirectory(dir=os.path.dirname(program)) as folder:
        scores = make_scores(folder)
        for name, score in scores.items():
            output = score[:-4] + ".wav"
            timed([program, score])
            size = os.path.getsize(output)
            floor_file = os.path.join(folder, "floor.bin")
            times = {"score2wav": [], "write floor": [], "sox": []}
            for _ in range(options.runs):
                seconds, status = timed([program, score])
                assert status == 0, "score2wav failed"
                times["score2wav"].append(seconds)
                with open(floor_file, "wb") as f:
                    times["write floor"].append(timed(["head", "-c", str(size), "/dev/zero"], stdout=f)[0])
            if sox and name == "song":
                for _ in range(3):
                    times["sox"].append(timed([sox, "-r", "8000", "-n", "-b", "8", "-e", "unsigned-integer",
                                               "-c", "1", os.path.join(folder, "sox.wav"), "synth", "3600",
                                               "sawtooth", "220", "sawtooth", "277", "sawtooth", "330",
                                               "remix", "-"])[0])
            floor = statistics.median(times["write floor"])
            print("%s score: %d bytes, %d runs" % (name, size, options.runs))
            for what, values in times.items():
                if values:
                    median = statistics.median(values)
                    print("  %-12s median %8.1f ms   ratio to floor %6.2f" % (what, median * 1000, median / floor))
            peak = peak_memory_kib([program, score])
            if peak is not None:
                print("  score2wav peak memory %.1f MiB" % (peak / 1024))
            else:
                print("  score2wav peak memory: not measured (install GNU time)")
        echo_cost(program, scores["song"], folder, options.runs)


if __name__ == "__main__":
    main()
