#!/usr/bin/env python3
"""Measures score2wav against the time of merely writing the same bytes.

Generates two one-hour scores (7200 chords of 0.5 s, three notes each): a
song whose 24 triads repeat, and one in which every chord differs. Runs, in
turn and alternately (paired runs), the program and the write floor: `dd`
writing the program's output size in 256 KiB blocks (the program
writes 64 KiB ones), to a file in the same folder; and, as a second column, `head -c N
/dev/zero > file`, which writes in small pieces. Then sox synthesising
three mixed sawtooths for an hour (when installed). Prints the median CPU
time (user and system) and wall time of each, the ratios to the 256 KiB
floor, and peak memory (maximum resident set size). Last, the cost of the
echo: the song with standard output going to /dev/null, to a file (where
it goes out in blocks) and to a pipe (a write a line).

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
    """Runs argv; returns (wall seconds, exit status)."""
    wall, _, status = timed_cpu(argv, stdout)
    return wall, status


def timed_cpu(argv, stdout=subprocess.DEVNULL):
    """Runs argv; returns (wall seconds, CPU seconds of user and system, exit status)."""
    start = time.perf_counter()
    child = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=stdout, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    child.returncode = os.waitstatus_to_exitcode(status)
    return time.perf_counter() - start, usage.ru_utime + usage.ru_stime, child.returncode


def floor_argv(size, path):
    """Writes size zero bytes to path in 256 KiB blocks: the write floor."""
    return ["dd", "if=/dev/zero", "of=" + path, "bs=256K", "count=%d" % size, "iflag=count_bytes",
            "status=none"]


def timed_into_pipe(argv):
    """Runs argv with standard output into a pipe that cat reads; returns seconds."""
    start = time.perf_counter()
    reader = subprocess.Popen(["cat"], stdin=subprocess.PIPE, stdout=subprocess.DEVNULL)
    subprocess.run(argv, stdin=subprocess.DEVNULL, stdout=reader.stdin, stderr=subprocess.DEVNULL)
    reader.stdin.close()
    reader.wait()
    return time.perf_counter() - start


def echo_cost(program, score, folder, runs):
    """Median wall times of the program with its echo going to /dev/null, a file and a pipe."""
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


def compared_programs(default_runs):
    """Parses --program, --runs (default default_runs), --baseline and --only;
    returns (options, programs): the program and, with --baseline, the
    other build measured in turns with it, as absolute paths."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", default="build/score2wav")
    parser.add_argument("--runs", type=int, default=default_runs)
    parser.add_argument("--only", default="", help="measures only the scores whose name holds this text")
    parser.add_argument("--baseline", help="another build, measured in turns with the program")
    options = parser.parse_args()
    programs = [os.path.abspath(options.program)]
    if options.baseline:
        programs.append(os.path.abspath(options.baseline))
    return options, programs


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
            runs = {"score2wav": [], "256 KiB floor": [], "head -c": [], "sox": []}
            for _ in range(options.runs):
                wall, cpu, status = timed_cpu([program, score])
                assert status == 0, "score2wav failed"
                runs["score2wav"].append((wall, cpu))
                wall, cpu, _ = timed_cpu(floor_argv(size, floor_file))
                runs["256 KiB floor"].append((wall, cpu))
                with open(floor_file, "wb") as f:
                    wall, cpu, _ = timed_cpu(["head", "-c", str(size), "/dev/zero"], stdout=f)
                runs["head -c"].append((wall, cpu))
            if sox and name == "song":
                for _ in range(3):
                    runs["sox"].append(timed_cpu([sox, "-r", "8000", "-n", "-b", "8", "-e", "unsigned-integer",
                                                  "-c", "1", os.path.join(folder, "sox.wav"), "synth", "3600",
                                                  "sawtooth", "220", "sawtooth", "277", "sawtooth", "330",
                                                  "remix", "-"])[:2])
            floor_cpu = statistics.median(cpu for _, cpu in runs["256 KiB floor"])
            floor_wall = statistics.median(wall for wall, _ in runs["256 KiB floor"])
            print("%s score: %d bytes, %d paired runs" % (name, size, options.runs))
            for what, values in runs.items():
                if values:
                    cpu = statistics.median(c for _, c in values)
                    wall = statistics.median(w for w, _ in values)
                    print("  %-14s CPU %7.1f ms (%5.2f x floor)   wall %7.1f ms (%5.2f x floor)" % (
                        what, cpu * 1000, cpu / floor_cpu, wall * 1000, wall / floor_wall))
            peak = peak_memory_kib([program, score])
            if peak is not None:
                print("  score2wav peak memory %.1f MiB" % (peak / 1024))
            else:
                print("  score2wav peak memory: not measured (install GNU time)")
        echo_cost(program, scores["song"], folder, options.runs)


if __name__ == "__main__":
    main()
