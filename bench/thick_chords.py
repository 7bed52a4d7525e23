#!/usr/bin/env python3
"""Measures score2wav on one-hour scores of thick chords: 7200 chords of
0.5 s, no chord twice, of 3, 6, 12, 24, 48 and 100 notes (the 100 drawn
from 48 pitches, so that pitches repeat), and the one-hour song saved as
UTF-16 against the plain file.

For each, the median CPU time (user and system) of the program and of its
floor, writing the same WAV's bytes in 256 KiB blocks (dd), and their
ratio; with --baseline, another build runs on the same files, its runs
taking turns with the program's, since the machine's speed drifts.

    python3 bench/thick_chords.py --program build/score2wav [--runs 7] [--only "48 notes"]
        [--baseline other/score2wav]
"""
import os
import random
import statistics
import tempfile

from bench import compared_programs, floor_argv, make_scores, timed_cpu

NOTES = "drmfslt"


def thick_hour(notes, pitches, rng):
    """The text of an hour of different chords of so many notes, drawn from
    the first so many pitches (with repeats where notes outnumber them)."""
    names = ["%d%s%s" % (octave, letter, accidental) for octave in range(4) for letter in NOTES
             for accidental in ("", "#") if not (letter in "mt" and accidental)][:pitches]
    seen, lines = set(), []
    while len(lines) < 7200:
        chord = "".join(rng.choice(names) for _ in range(notes))
        if chord not in seen:
            seen.add(chord)
            lines.append(chord + " |")
    return "0.5 one hour of %d-note chords\n" % notes + "\n".join(lines) + "\n"


def make_files(folder):
    rng = random.Random(48)
    files = {}
    for notes, pitches in ((3, 48), (6, 48), (12, 48), (24, 48), (48, 48), (100, 48)):
        path = os.path.join(folder, "thick%d.txt" % notes)
        with open(path, "w") as f:
            f.write(thick_hour(notes, pitches, rng))
        files["one hour, %d notes" % notes] = path
    song = make_scores(folder)["song"]
    files["the one-hour song"] = song
    path = os.path.join(folder, "song16.txt")
    with open(song, "rb") as plain, open(path, "wb") as f:
        f.write(b"\xff\xfe" + plain.read().decode("latin-1").encode("utf-16-le"))
    files["the one-hour song as UTF-16"] = path
    return files


def main():
    options, programs = compared_programs(7)
    with tempfile.TemporaryDirectory(dir=os.path.dirname(programs[0])) as folder:
        for name, path in make_files(folder).items():
            if options.only not in name:
                continue
            timed_cpu([programs[0], path])  # the score is now in the page cache
            wav_bytes = os.path.getsize(path[:-4] + ".wav")
            runs = {program: [] for program in programs}
            floors = []
            for _ in range(options.runs):
                for program in programs:
                    runs[program].append(timed_cpu([program, path])[1])
                floors.append(timed_cpu(floor_argv(wav_bytes, os.path.join(folder, "floor.bin")))[1])
            floor = statistics.median(floors)
            for program in programs:
                cpu = statistics.median(runs[program])
                print("%-30s %-9s CPU %7.3f s   floor %7.3f s   ratio %6.1f" % (
                    name, "score2wav" if program == programs[0] else "baseline", cpu, floor, cpu / floor))


if __name__ == "__main__":
    main()
