#!/usr/bin/env python3
"""End-to-end tests: runs the built program on the scores in tests/data and on
file-system scenarios, comparing whole files and console lines.

Each score NAME.txt in the data folder has golden files beside it:
NAME.stdout (console lines), NAME.status (exit status), and NAME.wav and
NAME.stderr where the run makes them. `--regenerate` rewrites the goldens
from the independent Python model in reference.py; a normal run also checks
that the model still agrees with them.
"""
import argparse
import glob
import itertools
import os
import pty
import random
import re
import resource
import signal
import shutil
import subprocess
import sys
import tempfile
import time
import wave

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import reference  # noqa: E402

FAILURES = []
EMULATOR = []  # e.g. ["wine64"] for the Windows program


def command(program, args):
    return EMULATOR + [program] + args


def check(condition, what):
    if not condition:
        FAILURES.append(what)
        print("FAIL: " + what)


def run(program, args, cwd, stdin=b"\n", timeout=60, env=None):
    result = subprocess.run(command(program, args), cwd=cwd, input=stdin, capture_output=True,
                            timeout=timeout, env=env)
    return result.returncode, result.stdout, result.stderr


def read(path, default=None):
    if not os.path.exists(path):
        return default
    with open(path, "rb") as f:
        return f.read()


def check_wave_header(path, name):
    """Reads the file with Python's own WAV reader, which shares nothing with ours:
    the frames it returns are the samples the file holds, as many as declared."""
    data = read(path)
    with wave.open(path, "rb") as w:
        check(w.getnchannels() == 1, name + ": mono")
        check(w.getsampwidth() == 1, name + ": 8-bit")
        check(w.getframerate() == 8000, name + ": 8000 Hz")
        frames = w.readframes(w.getnframes())
    declared = int.from_bytes(data[40:44], "little")
    check(len(data) - 44 >= declared, name + ": the file holds the declared samples")
    check(frames == data[44:44 + declared], name + ": a reader gets the declared samples")


EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples")


def golden_cases(data):
    """Yields (name, score path, golden path prefix): the scores of the data
    folder, and the bundled examples with their goldens in data/examples."""
    for entry in sorted(os.listdir(data)):
        if entry.endswith(".txt"):
            yield entry[:-4], os.path.join(data, entry), os.path.join(data, entry[:-4])
    for entry in sorted(os.listdir(EXAMPLES)):
        if entry.endswith(".txt"):
            yield entry[:-4], os.path.join(EXAMPLES, entry), os.path.join(data, "examples", entry[:-4])


def regenerate(data):
    os.makedirs(os.path.join(data, "examples"), exist_ok=True)
    for name, score, golden in golden_cases(data):
        wav, out, err, status = reference.convert(read(score), name + ".txt")
        for suffix, content in ((".wav", wav), (".stdout", out.encode("latin-1")),
                                (".stderr", err.encode("latin-1") if err else None),
                                (".status", b"%d\n" % status)):
            path = golden + suffix
            if content is None:
                if os.path.exists(path):
                    os.remove(path)
            else:
                with open(path, "wb") as f:
                    f.write(content)


def read_golden(golden):
    """Returns a golden case's (status, stdout, stderr, WAV or None)."""
    return (int(read(golden + ".status")), read(golden + ".stdout"), read(golden + ".stderr", b""),
            read(golden + ".wav"))


def test_golden_scores(program, data, work):
    for name, score_path, golden in golden_cases(data):
        score = read(score_path)
        expected_status, expected_out, expected_err, expected_wav = read_golden(golden)
        model_wav, model_out, model_err, model_status = reference.convert(score, name + ".txt")
        check(model_wav == expected_wav and model_out.encode("latin-1") == expected_out
              and model_err.encode("latin-1") == expected_err and model_status == expected_status,
              name + ": golden files agree with the reference model")

        folder = os.path.join(work, name)
        os.mkdir(folder)
        shutil.copy(score_path, folder)
        status, out, err = run(program, [name + ".txt"], folder)
        check(status == expected_status, "%s: exit status %d, expected %d" % (name, status, expected_status))
        check(out == expected_out, "%s: stdout %r, expected %r" % (name, out[:200], expected_out[:200]))
        check(err == expected_err, "%s: stderr %r, expected %r" % (name, err[:200], expected_err[:200]))
        produced = read(os.path.join(folder, name + ".wav"))
        check(produced == expected_wav, name + ": WAV bytes match the golden file")
        if produced is not None:
            check_wave_header(os.path.join(folder, name + ".wav"), name)
        check(sorted(os.listdir(folder)) == sorted([name + ".txt"] + ([name + ".wav"] if expected_wav else [])),
              name + ": nothing else left in the folder: %s" % os.listdir(folder))


USAGE = b'usage: score2wav SCORE   (try "score2wav --help")\n'


def test_arguments(program, work):
    for args in ([], ["a.txt", "b.txt"], ["--help", "--version"]):
        status, out, err = run(program, args, work)
        check((status, out, err) == (1, b"Please D&D.\n", USAGE), "arguments %r: %r %r %r" % (args, status, out, err))
    status, out, err = run(program, ["missing.txt"], work)
    check((status, out) == (1, b"File open error as read.\n"), "missing score: %r" % out)
    if not EMULATOR:  # Wine words the system's reasons its own way
        check(err == b'score2wav: cannot open "missing.txt": No such file or directory\n', "missing: %r" % err)
    check(not os.path.exists(os.path.join(work, "missing.wav")), "missing score: no output")
    os.mkdir(os.path.join(work, "folder.txt"))
    status, out, err = run(program, ["folder.txt"], work)
    check((status, out) == (1, b"File open error as read.\n"), "folder as score: %r" % out)
    if not EMULATOR:
        check(err == b'score2wav: cannot open "folder.txt": Is a directory\n', "folder: %r" % err)
    check(not os.path.exists(os.path.join(work, "folder.wav")), "folder as score: no output")


def test_help_and_version(program, work):
    """Help and version print and end at once, without the closing wait; a
    file named like an option is still converted."""
    for option in ("--help", "-h", "--version"):
        child = subprocess.Popen(command(program, [option]), cwd=work, stdin=subprocess.PIPE,
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            out, err = child.communicate(timeout=30)  # stdin stays open: no line ever comes
        except subprocess.TimeoutExpired:
            child.kill()
            out, err = child.communicate()
        check(child.returncode == 0 and err == b"", "%s: %r %r" % (option, child.returncode, err))
        if option == "--version":
            check(re.fullmatch(rb"score2wav \d+\.\d+\.\d+\n", out) is not None, "version: %r" % out)
        else:
            check(out.startswith(b"usage: score2wav SCORE\n") and
                  b"d r m f s l t are A B C# D E F# G#" in out and b"2d is A4 at 440 Hz" in out,
                  "%s names the notes' letters: %r" % (option, out[:80]))
    write(os.path.join(work, "--help"), b"0.001\n1d|")
    status, out, _ = run(program, ["--help"], work)
    check((status, out) == (0, b"1d\n") and os.path.exists(os.path.join(work, "--help.wav")),
          "a score named --help is converted: %r %r" % (status, out))


def test_unreadable_score(program, work):
    os.chmod(work, 0o755)
    os.chmod(os.path.dirname(work), 0o755)
    write(os.path.join(work, "secret.txt"), b"0.001\n1d|")
    os.chmod(os.path.join(work, "secret.txt"), 0o000)
    result = subprocess.run([program, "secret.txt"], cwd=work, input=b"\n", capture_output=True,
                            preexec_fn=as_nobody, timeout=60)
    check((result.returncode, result.stdout, result.stderr) ==
          (1, b"File open error as read.\n", b'score2wav: cannot open "secret.txt": Permission denied\n'),
          "unreadable score: %r %r" % (result.stdout, result.stderr))


def test_closing_prompt_on_a_terminal(program, work):
    """On a terminal the closing wait says what it waits for; elsewhere it is silent."""
    write(os.path.join(work, "tty.txt"), b"0.001\n1d|")
    controller, terminal = pty.openpty()
    child = subprocess.Popen([program, "tty.txt"], cwd=work, stdin=terminal, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE)
    os.close(terminal)
    time.sleep(0.5)
    check(child.poll() is None, "waits on a terminal")
    os.write(controller, b"\n")
    out, err = child.communicate(timeout=30)
    os.close(controller)
    check((child.returncode, out, err) == (0, b"1d\n", b"Press Enter to close.\n"),
          "terminal prompt: %r %r" % (out, err))

    # A person at a terminal is told what was written; the golden runs show
    # that pipes are told nothing of it.
    # Under a minute in tenths, as the page shows it: 0.4 s is no silent 0:00.
    for score, said in ((b"0.3\n" + b"2d|" * 32 + b"\n|", b"2d\r\n\r\nWrote summary.wav: 33 chords, 0:09.9"),
                        (b"0.4\n2d|", b"2d\r\nWrote summary.wav: 1 chord, 0:00.4"),
                        (b"61\n2d|", b"2d\r\nWrote summary.wav: 1 chord, 1:01")):
        write(os.path.join(work, "summary.txt"), score)
        pid, controller = spawn_on_terminal(program, ["summary.txt"], work)
        shown = read_terminal(controller, b"Press Enter to close.")
        os.write(controller, b"\n")
        check(exit_status(pid) == 0 and shown.endswith(said + b" of sound.\r\nPress Enter to close.\r\n"),
              "the summary line on a terminal: %r" % shown[-120:])
        os.close(controller)


def test_encoded_twins(program, data, work):
    """A score saved with a UTF-8 mark, or as UTF-16 either way round, reads
    as the plain score: the same echo, warnings, status and WAV."""
    encodings = {"utf8_mark": lambda text: b"\xef\xbb\xbf" + text,
                 "utf16le": lambda text: text.decode("ascii").encode("utf-16"),  # with its mark
                 "utf16be": lambda text: b"\xfe\xff" + text.decode("ascii").encode("utf-16-be")}
    cases = list(golden_cases(data))
    for name, score_path, golden in cases[:4] if EMULATOR else cases:  # Wine starts slowly
        score = read(score_path)
        if max(score, default=0) >= 0x80 or score[:1] in (b"\xef", b"\xfe", b"\xff"):
            continue  # only ASCII text is the same text in every encoding
        expected = read_golden(golden)
        for encoding, encode in encodings.items():
            folder = os.path.join(work, name + "." + encoding)
            os.makedirs(folder)
            write(os.path.join(folder, name + ".txt"), encode(score))
            status, out, err = run(program, [name + ".txt"], folder)
            same = (status, out, err, read(os.path.join(folder, name + ".wav"))) == expected
            check(same, "%s saved as %s converts as the plain score: %r" % (name, encoding, err[:200]))


def test_output_rules(program, work):
    # The score named like its output keeps its content.
    tune = os.path.join(work, "tune.wav")
    with open(tune, "wb") as f:
        f.write(b"0.001\n1d|")
    status, out, err = run(program, ["tune.wav"], work)
    check((status, out, err) == (1, b"File open error as write.\n",
                                 b'score2wav: cannot write "tune.wav": it is the score itself\n'),
          "tune.wav: %r %r" % (out, err))
    check(read(tune) == b"0.001\n1d|", "tune.wav keeps its content")
    # A link to the score at the output path: the score is untouched.
    os.symlink("linked.txt", os.path.join(work, "linked.wav"))
    with open(os.path.join(work, "linked.txt"), "wb") as f:
        f.write(b"0.001\n1d|")
    status, out, _ = run(program, ["linked.txt"], work)
    check((status, out) == (1, b"File open error as write.\n"), "link to score: %r" % out)
    check(read(os.path.join(work, "linked.txt")) == b"0.001\n1d|", "linked score untouched")
    # A "." in a folder name is not an extension.
    folder = os.path.join(work, "my.dir")
    os.mkdir(folder)
    with open(os.path.join(folder, "song"), "wb") as f:
        f.write(b"0.001\n2d2m|2m|")
    status, out, _ = run(program, ["my.dir/song"], work)
    check(status == 0 and out == b"2d2m\n2m\n", "my.dir/song: %r %r" % (status, out))
    check(len(read(os.path.join(folder, "song.wav"), b"")) == 60, "my.dir/song.wav written")
    check(not os.path.exists(os.path.join(work, "my.wav")), "nothing written outside the folder")
    # An existing output is replaced whole on success.
    with open(os.path.join(folder, "song.wav"), "wb") as f:
        f.write(b"x" * 100000)
    status, _, _ = run(program, [os.path.join(folder, "song")], work)
    check(status == 0 and len(read(os.path.join(folder, "song.wav"))) == 60, "existing output replaced")
    # A folder at the output path.
    os.mkdir(os.path.join(work, "busy.wav"))
    with open(os.path.join(work, "busy.txt"), "wb") as f:
        f.write(b"0.001\n1d|")
    status, out, err = run(program, ["busy.txt"], work)
    check((status, out) == (1, b"File open error as write.\n"), "folder at output path: %r" % out)
    check(err.startswith(b'score2wav: cannot write "busy.wav": '), "folder at output path: %r" % err)
    check(os.listdir(os.path.join(work, "busy.wav")) == [], "folder at output path untouched")


def test_long_paths(program, work):
    """No length limit on paths: a score 500 characters deep, a chord of 300."""
    relative = os.path.join(*(["d" * 100 + str(i) for i in range(5)]))
    os.makedirs(os.path.join(work, relative))
    chord = b"1d1m1s2d" * 40
    write(os.path.join(work, relative, "deep.song.txt"), b"0.001\n" + chord + b"|")
    argument = relative.replace("/", "\\") if EMULATOR else relative
    status, out, _ = run(program, [argument + ("\\" if EMULATOR else "/") + "deep.song.txt"], work)
    check(status == 0 and out == chord + b"\n", "long path: %r %r" % (status, out[:60]))
    expected = reference.convert(b"0.001\n" + chord + b"|", "")[0]
    check(read(os.path.join(work, relative, "deep.song.wav")) == expected, "long path: output beside the score")


def test_random_scores_match_model(program, work):
    """Random, mostly malformed scores: every byte, line and status as the model says."""
    rng = random.Random(20261207)
    alphabet = list(b"0123drmfsltDRMFSLTb#B|||| \t\n\r") + [0, 0x1A, 0x7F, 0xFF] + list(b"x49")
    headers = [b"0.001", b"0.0005", b"1e-3", b"+.002", b"-0.5", b"abc", b"", b"0x10",
               b"  \t2e-3xyz", b"0.00099999999999999999", b"1e400", b"5e", b".", b"-"]
    for case in range(10 if EMULATOR else 300):  # Wine starts slowly
        header = rng.choice(headers)
        if rng.random() < 0.2:
            header += bytes(rng.choice(alphabet) for _ in range(rng.randint(0, 200)))
        score = header + rng.choice([b"\n", b"\r\n", b"\r", b""]) + bytes(
            rng.choice(alphabet) for _ in range(rng.randint(0, 400)))
        write(os.path.join(work, "random.txt"), score)
        output = os.path.join(work, "random.wav")
        if os.path.exists(output):
            os.remove(output)
        status, out, err = run(program, ["random.txt"], work)
        wav, model_out, model_err, model_status = reference.convert(score, "random.txt")
        check((read(output), out, err, status) ==
              (wav, model_out.encode("latin-1"), model_err.encode("latin-1"), model_status),
              "random score %d differs from the model: %r" % (case, score[:80]))


def test_closing_wait(program, work):
    with open(os.path.join(work, "wait.txt"), "wb") as f:
        f.write(b"0.001\n1d|")
    child = subprocess.Popen(command(program, ["wait.txt"]), cwd=work, stdin=subprocess.PIPE,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    time.sleep(0.5 if not EMULATOR else 3)
    check(child.poll() is None, "the program waits for a line before it ends")
    out, _ = child.communicate(b"\nnot read\n", timeout=60)
    check(child.returncode == 0 and out == b"1d\n", "one line ends the wait: %r" % out)
    status, _, _ = run(program, ["wait.txt"], work, stdin=b"")
    check(status == 0, "ended input ends the wait at once")


def write(path, content):
    with open(path, "wb") as f:
        f.write(content)


def temporaries(folder):
    return glob.glob(os.path.join(folder, ".score2wav-*"))


def test_file_size_limit(program, work):
    """A full disk, as a file-size limit: the old output stays, nothing is left behind."""
    write(os.path.join(work, "big.txt"), b"1\n1d1m1s|" * 1 + b"1r|" * 30)  # 31 s: 248044 bytes
    write(os.path.join(work, "big.wav"), b"old output")

    def limit():  # the limit's signal is left to its default: the program must ignore it
        resource.setrlimit(resource.RLIMIT_FSIZE, (100000, 100000))

    result = subprocess.run([program, "big.txt"], cwd=work, input=b"\n", capture_output=True,
                            preexec_fn=limit, timeout=60)
    check(result.returncode == 1 and result.stdout.endswith(b"File write error.\n"),
          "file-size limit: %r %r" % (result.returncode, result.stdout[-40:]))
    check(result.stderr == b'score2wav: cannot write "big.wav": File too large\n', "file-size limit: %r" % result.stderr)
    check(read(os.path.join(work, "big.wav")) == b"old output", "file-size limit: old output kept")
    check(temporaries(work) == [], "file-size limit: no temporary file left")


def test_largest_wav(program, work):
    """The longest score the format allows: its declared sizes fit 32 signed
    bits, though the file, one sample more a chord, is larger than 2 GiB."""
    size = 44 + 4001 * 536870
    if shutil.disk_usage(work).free < size + (1 << 30):
        raise Skipped("the 2,148,016,914-byte WAV (less than 3 GB free where the tests run)")
    write(os.path.join(work, "largest.txt"), b"0.5\n" + b"|" * 536870)
    status, out, _ = run(program, ["largest.txt"], work, timeout=600)
    output = os.path.join(work, "largest.wav")
    with open(output, "rb") as f:
        header = f.read(44)
    check(status == 0 and len(out) == 536870 and os.path.getsize(output) == size,
          "the largest WAV: status %r, %d bytes" % (status, os.path.getsize(output)))
    check(header[4:8] == (2147480036).to_bytes(4, "little") and header[40:44] == (2147480000).to_bytes(4, "little"),
          "the largest WAV declares 2,147,480,000 bytes: %r" % header)
    os.remove(output)
    write(os.path.join(work, "largest.txt"), b"0.5\n" + b"|" * 536871)
    status, out, _ = run(program, ["largest.txt"], work)
    check((status, out) == (1, b"Score too long.\n") and not os.path.exists(output),
          "one chord more is too long: %r %r" % (status, out))


def test_fifo_score(program, work):
    os.mkfifo(os.path.join(work, "pipe.txt"))
    status, out, err = run(program, ["pipe.txt"], work, timeout=20)
    check((status, out, err) == (1, b"File read error.\n",
                                 b'score2wav: cannot read "pipe.txt": not a regular file (a score is read twice)\n'),
          "FIFO score: %r %r %r" % (status, out, err))
    check(not os.path.exists(os.path.join(work, "pipe.wav")) and temporaries(work) == [],
          "FIFO score: no output")


LONG_CHORDS = [b"".join(b"%d%c" % ((c + i) % 4, b"drmfslt"[(c * 7 + i) % 7]) for i in range(300))
               for c in range(20)]


def start_long_render(program, work, name, env=None):
    """Starts a conversion of a second or more and returns it with its first
    echo line, once that has arrived: minute-long chords of 300 notes, each
    different, cannot come from the cache."""
    write(os.path.join(work, name + ".txt"), b"60\n" + b"|\n".join(LONG_CHORDS) + b"|")
    write(os.path.join(work, name + ".wav"), b"old output")

    def no_core_files():
        resource.setrlimit(resource.RLIMIT_CORE, (0, 0))

    child = subprocess.Popen([program, name + ".txt"], cwd=work, stdin=subprocess.PIPE,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env,
                             preexec_fn=no_core_files)
    return child, child.stdout.readline()


def finish(child, stdin=b"\n"):
    out, err = child.communicate(stdin, timeout=120)
    return child.returncode, out, err


def test_line_buffered_echo(program, work):
    """Each echo line reaches a pipe as its chord is converted, and each warning
    follows its chord's line."""
    child, first = start_long_render(program, work, "echo")
    check(first == LONG_CHORDS[0] + b"\n", "first echo line: %r" % first[:40])
    # The run has not finished: the old output is still there, and the new one not linked.
    check(read(os.path.join(work, "echo.wav")) == b"old output",
          "the first echo line arrives while the conversion runs")
    status, _, _ = finish(child)
    check(status == 0 and read(os.path.join(work, "echo.wav")) != b"old output",
          "line-buffered run ends well: %r" % status)
    write(os.path.join(work, "order.txt"), b"0.001\n1x2d|1d|3q|")
    merged = subprocess.run([program, "order.txt"], cwd=work, input=b"\n", stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, timeout=60).stdout
    reason = b": an octave digit needs a note letter (d r m f s l t) after it\n"
    check(merged == b'1x2d\norder.txt:2:1: warning: skipped "1x"' + reason + b'1d\n3q\norder.txt:2:9: warning: skipped "3q"' + reason,
          "each warning follows its chord's echo line: %r" % merged)


def shim_env(shim, **settings):
    """The environment that preloads the fault shim with these settings."""
    env = dict(os.environ, LD_PRELOAD=os.path.abspath(shim))
    env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0"
    env.update(("SCORE2WAV_SHIM_" + key.upper(), value) for key, value in settings.items())
    return env


def preload_modes(shim):
    """The file systems to play: the real one (with unnamed files), and one
    without them, where a named temporary file stands in."""
    modes = [("unnamed files", None)]
    if shim:
        modes.append(("named temporary", shim_env(shim, no_tmpfile="1")))
    return modes


def test_killed_runs(program, work, shim=None):
    for mode, env in preload_modes(shim):
        child, _ = start_long_render(program, work, "killed", env)
        during = temporaries(work)
        if env is None:
            check(during == [], "%s: nothing in the folder while writing: %r" % (mode, during))
        else:
            names = [os.path.basename(path) for path in during]
            check(len(names) == 1 and re.fullmatch(r"\.score2wav-[0-9a-f]{16}\.tmp", names[0])
                  and str(child.pid) not in names[0], "%s: an unguessable name: %r" % (mode, names))
        child.kill()
        child.wait()
        check(read(os.path.join(work, "killed.wav")) == b"old output", "%s: kill -9: old output survives" % mode)
        if env is None:
            check(temporaries(work) == [], "unnamed files: kill -9 leaves nothing behind")
        for leftover in temporaries(work):
            os.remove(leftover)  # nothing can remove a named one after SIGKILL
        for number in (signal.SIGINT, signal.SIGTERM, signal.SIGQUIT, signal.SIGALRM,
                       signal.SIGUSR1, signal.SIGUSR2, signal.SIGXCPU, signal.SIGPROF):
            child, _ = start_long_render(program, work, "interrupted", env)
            child.send_signal(number)
            status, _, _ = finish(child)
            check(status == -number, "%s: signal %d ends the run: %r" % (mode, number, status))
            check(read(os.path.join(work, "interrupted.wav")) == b"old output",
                  "%s: signal %d: old output survives" % (mode, number))
            check(temporaries(work) == [], "%s: signal %d: nothing left behind" % (mode, number))
        for number in (signal.SIGPIPE, signal.SIGHUP):
            child, _ = start_long_render(program, work, "ignored", env)
            if env is not None:
                temporary = temporaries(work)
                check(len(temporary) == 1 and os.stat(temporary[0]).st_mode & 0o077 == 0,
                      "%s: no one else may open the temporary file" % mode)
            child.send_signal(number)
            status, _, _ = finish(child)
            check(status == 0 and read(os.path.join(work, "ignored.wav")) != b"old output",
                  "%s: signal %d is ignored, the run ends well: %r" % (mode, number, status))


def test_signals_write_nothing_twice(program, work, shim=None):
    """A signal at any moment leaves standard output a prefix of the whole
    echo, through a pipe and to a file; with standard output a pipe nobody
    reads, a signal still ends the run at once, and nothing is left behind."""
    lines = [b"%d%c%d%c" % (i % 4, b"drmfslt"[i // 4 % 7], i // 28 % 4, b"drmfslt"[i // 112 % 7])
             + b"x" * (i // 784 % 50) for i in range(400000)]  # 400,000 lines, each different
    write(os.path.join(work, "many.txt"), b"0.005\n" + b"|".join(lines) + b"|")
    _, whole, _ = run(program, ["many.txt"], work)
    rng = random.Random(20261208)
    for case in range(40):
        number = (signal.SIGTERM, signal.SIGINT)[case % 2]
        to_file = case % 2 == 0
        target = open(os.path.join(work, "echo.out"), "wb") if to_file else subprocess.PIPE
        child = subprocess.Popen([program, "many.txt"], cwd=work, stdin=subprocess.PIPE, stdout=target,
                                 stderr=subprocess.DEVNULL)
        time.sleep(rng.uniform(0.005, 0.1 if to_file else 0.3))  # the runs take about that long
        child.send_signal(number)
        out = child.communicate(timeout=30)[0] if not to_file else (child.wait(timeout=30), None)[1]
        if to_file:
            target.close()
            out = read(os.path.join(work, "echo.out"))
        check(whole.startswith(out), "signal %d %s: the echo is a prefix of the whole, no block twice (%d bytes)"
              % (number, "to a file" if to_file else "through a pipe", len(out)))
    for mode, env in preload_modes(shim):
        child = subprocess.Popen([program, "many.txt"], cwd=work, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                 stderr=subprocess.DEVNULL, env=env)
        time.sleep(1)  # the pipe is full long before the run ends
        child.send_signal(signal.SIGTERM)
        start = time.time()
        try:
            status = child.wait(timeout=5)
        except subprocess.TimeoutExpired:
            child.kill()
            status = "still running"
        check(status == -signal.SIGTERM and time.time() - start < 1, "%s: a stalled pipe: the signal ends the run "
              "at once: %r" % (mode, status))
        check(temporaries(work) == [], "%s: a stalled pipe: nothing left behind" % mode)
        child.stdout.close()
        child.stdin.close()


def test_killed_commits(program, work, shim=None):
    """kill -9 at each step of replacing an output: the folder holds the old
    output or the whole new one, and the next run there removes anything
    else; a live run's temporary file survives another run's clean-up."""
    if not shim:
        raise Skipped("the kills during a commit need the fault shim (Linux builds)")
    write(os.path.join(work, "song.txt"), b"0.2\n" + b"1d1m1s|2d|" * 10)
    run(program, ["song.txt"], work)
    new = read(os.path.join(work, "song.wav"))
    left_behind = 0
    for mode, base in preload_modes(shim):
        for point in ("linkat:before", "linkat:after", "renameat2:before", "renameat2:after",
                      "rename:after", "unlink:before", "unlink:after"):
            write(os.path.join(work, "song.wav"), b"old output")
            env = shim_env(shim, kill=point, **({"no_tmpfile": "1"} if base else {}))
            status, _, _ = run(program, ["song.txt"], work, env=env)
            where = "%s, kill -9 at %s" % (mode, point)
            check(read(os.path.join(work, "song.wav")) in (b"old output", new), where + ": old or new output")
            extra = [name for name in os.listdir(work) if name not in ("song.txt", "song.wav")]
            check(status in (0, -signal.SIGKILL) and len(extra) <= 1, where + ": %r %r" % (status, extra))
            left_behind += len(extra)
            status, _, err = run(program, ["song.txt"], work)
            check(status == 0 and err == b"" and sorted(os.listdir(work)) == ["song.txt", "song.wav"]
                  and read(os.path.join(work, "song.wav")) == new,
                  where + ": the next run leaves only the output: %r %r" % (os.listdir(work), err))
    check(left_behind > 0, "some kill left a temporary file for the next run to remove")
    status, _, err = run(program, ["song.txt"], work, env=shim_env(shim, fail="unlink"))
    left = temporaries(work)
    check(status == 0 and len(left) == 1 and err == b'score2wav: cannot remove "%s": Operation not permitted\n'
          % os.path.basename(left[0]).encode(), "a failed removal is reported: %r %r" % (status, err))
    child, _ = start_long_render(program, work, "long", shim_env(shim, no_tmpfile="1"))
    status, _, _ = run(program, ["song.txt"], work)
    check(status == 0 and len(temporaries(work)) == 1, "a live run's temporary file stays: %r" % temporaries(work))
    status, _, _ = finish(child)
    check(status == 0 and read(os.path.join(work, "long.wav")) != b"old output", "and that run ends well")


def spawn_on_terminal(program, args, cwd):
    """Starts the program on a new pseudo-terminal (its controlling terminal,
    and all three standard streams); returns the pid and the terminal's other end."""
    pid, controller = pty.fork()
    if pid == 0:
        os.chdir(cwd)
        os.execv(program, [program] + args)
    return pid, controller


def read_terminal(controller, until, timeout=30):
    """What the terminal shows, up to the marker (or all until it closes)."""
    text, deadline = b"", time.time() + timeout
    while until not in text and time.time() < deadline:
        try:
            chunk = os.read(controller, 4096)
        except OSError:
            break
        if not chunk:
            break
        text += chunk
    return text


def exit_status(pid, timeout=60):
    deadline = time.time() + timeout
    while time.time() < deadline:
        done, status = os.waitpid(pid, os.WNOHANG)
        if done:
            return os.waitstatus_to_exitcode(status)
        time.sleep(0.01)
    os.kill(pid, signal.SIGKILL)
    os.waitpid(pid, 0)
    return "still running"


def test_terminals(program, work):
    """Score text cannot drive the terminal, and a terminal that closes stops
    neither the conversion nor the program's end."""
    score = b"0.001\n1d\x1b]0;title\x07\x1b[8m|"
    write(os.path.join(work, "title.txt"), score)
    pid, controller = spawn_on_terminal(program, ["title.txt"], work)
    shown = read_terminal(controller, b"Press Enter to close.")
    os.write(controller, b"\n")
    check(exit_status(pid) == 0 and shown.startswith(b"1d\\x1B]0;title\\x07\\x1B[8m\r\n"),
          "control bytes are shown escaped on a terminal: %r" % shown)
    os.close(controller)
    status, out, _ = run(program, ["title.txt"], work)
    check(out == b"1d\x1b]0;title\x07\x1b[8m\n", "and exact through a pipe: %r" % out)
    # 8-bit controls and bidirectional overrides, raw and in UTF-8, in the
    # echo and a warning; letters pass.
    score = b"0.001\n1d\x9bX\xc2\x9bY\xe2\x80\xaeok\xe2\x81\xa6\xc3\xa9|"
    write(os.path.join(work, "c1.txt"), score)
    pid, controller = spawn_on_terminal(program, ["c1.txt"], work)
    shown = read_terminal(controller, b"Press Enter to close.")
    os.write(controller, b"\n")
    escaped = b"\\x9B%c\\xC2\\x9B%c\\xE2\\x80\\xAEok\\xE2\\x81\\xA6\xc3\xa9"
    check(exit_status(pid) == 0 and shown.startswith(b"1d" + escaped % (b"x", b"y") + b"\r\n")
          and b'2:3: warning: skipped "' + escaped % (b"X", b"Y") + b'"' in shown,
          "C1 and bidirectional controls are shown escaped on a terminal: %r" % shown)
    os.close(controller)
    _, out, err = run(program, ["c1.txt"], work)
    check(out == score[6:-1].lower() + b"\n" and b'skipped "' + score[8:-1] + b'"' in err,
          "and exact through a pipe: %r %r" % (out, err))
    # Characters a terminal shows as nothing or that change direction, in
    # the echo, a warning and the score's name.
    invisible = "\u200e\u200f\u061c\u200b\u200d\u2060\u2028\u2029\ufeff\u00ad\u3164\U000e0041".encode()
    escaped = b"".join(b"\\x%02X" % byte for byte in invisible)
    name = "\u200ftune.txt".encode()
    write(os.path.join(work.encode(), name), b"0.001\n1d" + invisible + b"|")
    pid, controller = spawn_on_terminal(program, [name.decode()], work)
    shown = read_terminal(controller, b"Press Enter to close.")
    os.write(controller, b"\n")
    check(exit_status(pid) == 0 and shown.startswith(b"1d" + escaped + b"\r\n") and
          b'\\xE2\\x80\\x8Ftune.txt:2:3: warning: skipped "' + escaped + b'"' in shown,
          "invisible characters are shown escaped on a terminal: %r" % shown)
    os.close(controller)
    _, out, _ = run(program, [name.decode()], work)
    check(out == b"1d" + invisible + b"\n", "and exact through a pipe: %r" % out)
    write(os.path.join(work, "a\nb:1:1: x.txt"), b"0.001\n1x|")
    _, _, err = run(program, ["a\nb:1:1: x.txt"], work)
    check(err.startswith(b'a\\x0Ab:1:1: x.txt:2:1: warning: skipped "1x": ') and err.count(b"\n") == 2 and
          b"\na\\x0Ab:1:1: x.txt: warning: no chord" in err, "a name cannot forge a line: %r" % err)

    child, _ = start_long_render(program, work, "closed")
    finish(child)
    expected = read(os.path.join(work, "closed.wav"))
    write(os.path.join(work, "closed.wav"), b"old output")
    pid, controller = spawn_on_terminal(program, ["closed.txt"], work)
    read_terminal(controller, b"\n")  # the first chord's echo: the conversion runs
    os.close(controller)  # the terminal goes: a hang-up
    check(exit_status(pid) == 0 and read(os.path.join(work, "closed.wav")) == expected,
          "a terminal closed mid-run: the whole WAV, status 0")
    pid, controller = spawn_on_terminal(program, ["title.txt"], work)
    read_terminal(controller, b"Press Enter to close.")
    os.close(controller)
    check(exit_status(pid, timeout=10) == 0, "a terminal closed during the closing wait ends it, status 0")


def test_closed_standard_streams(program, work):
    """No file of the run may take the number of a closed standard stream."""
    score = b"0.001\n1d|x2m|"
    expected = reference.convert(score, "w.txt")[0]
    write(os.path.join(work, "w.txt"), score)
    for redirections in ("<&- >&- 2>&-", "</dev/null >&- 2>&-", "<&- 2>&-", ">&-"):
        if os.path.exists(os.path.join(work, "w.wav")):
            os.remove(os.path.join(work, "w.wav"))
        result = subprocess.run(["sh", "-c", 'exec "$0" w.txt </dev/null ' + redirections, program],
                                cwd=work, capture_output=True, timeout=60)
        check(result.returncode == 0 and read(os.path.join(work, "w.wav")) == expected,
              "closed streams %s: %r, the WAV holds only samples" % (redirections, result.returncode))
    # Without /dev/null (an empty /dev in a mount namespace of its own).
    probe = subprocess.run(["unshare", "-m", "sh", "-c", "mount -t tmpfs none /dev && test ! -e /dev/null"],
                           capture_output=True)
    if probe.returncode != 0:
        raise Skipped("closed streams without /dev/null (unshare -m and mount are not permitted here)")
    os.remove(os.path.join(work, "w.wav"))
    result = subprocess.run(["unshare", "-m", "sh", "-c", 'mount -t tmpfs none /dev && exec "$0" w.txt <&- >&- 2>&-',
                             program], cwd=work, capture_output=True, timeout=60)
    check(result.returncode == 0 and read(os.path.join(work, "w.wav")) == expected,
          "closed streams without /dev/null: %r, the WAV holds only samples" % result.returncode)


def test_closed_pipes(program, work):
    """A reader that goes away (| head -1) stops neither the conversion nor its cleanup."""
    score = b"0.0001\n" + b"1d x|" * 30000  # more echo than a pipe holds
    expected = reference.convert(score, "p.txt")[0]
    write(os.path.join(work, "p.txt"), score)
    child = subprocess.Popen([program, "p.txt"], cwd=work, stdin=subprocess.PIPE,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    child.stderr.close()
    first = child.stdout.readline()
    child.stdout.close()
    child.stdin.write(b"\n")
    child.stdin.close()
    status = child.wait(timeout=120)
    wav = read(os.path.join(work, "p.wav"), b"")
    check(first == b"1dx\n" and status == 0, "closed pipes: %r %r" % (first, status))
    check(wav == expected, "closed pipes: the whole WAV")
    check(temporaries(work) == [], "closed pipes: nothing left behind")


def test_echo_to_null_device(program, work):
    """Standard output on the null device: the same WAV, and no echo written at all."""
    if shutil.which("strace") is None:
        raise Skipped("echo to the null device (strace is not installed)")
    score = b"0.001\n1d|x2m|" * 1000
    expected = reference.convert(score, "n.txt")[0]
    write(os.path.join(work, "n.txt"), score)
    log = os.path.join(work, "writes.log")
    env = dict(os.environ)  # the leak checker cannot run under strace
    env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":detect_leaks=0"
    with open(os.devnull, "wb") as null:
        status = subprocess.run(["strace", "-f", "-e", "trace=write", "-o", log, program, "n.txt"],
                                cwd=work, input=b"\n", stdout=null, stderr=subprocess.DEVNULL,
                                timeout=60, env=env).returncode
    writes = re.findall(r"^(?:\d+ +)?write\((\d+),", read(log).decode(), re.M)  # their descriptors
    check(status == 0 and read(os.path.join(work, "n.wav")) == expected,
          "echo to the null device: %r, the same WAV" % status)
    check(writes and "1" not in writes,
          "echo to the null device: no write to standard output (%d writes)" % len(writes))


def test_score_changed(program, work):
    def append(path):
        with open(path, "ab") as f:
            f.write(b" 1d|")

    def overwrite_in_place(path):
        with open(path, "r+b") as f:
            f.seek(5)
            f.write(b"3")

    for edit in (append, overwrite_in_place):
        child, _ = start_long_render(program, work, "edited")
        edit(os.path.join(work, "edited.txt"))
        status, out, err = finish(child)
        check(status == 1 and out.endswith(b"File read error.\n"), "%s: %r %r" % (edit.__name__, status, out[-30:]))
        check(err.endswith(b'\nscore2wav: "edited.txt" changed while it was read\n'), "%s: %r" % (edit.__name__, err))
        check(read(os.path.join(work, "edited.wav")) == b"old output", edit.__name__ + ": old output kept")
        check(temporaries(work) == [], edit.__name__ + ": nothing left behind")


def test_memory(program, work):
    """Under an address-space limit: text the program only reads past converts; a
    chord whose notes do not fit says so."""
    def limit(megabytes):
        return lambda: resource.setrlimit(resource.RLIMIT_AS, (megabytes << 20, megabytes << 20))

    size = 64 << 20
    with open(os.path.join(work, "text.txt"), "wb") as f:
        f.write(b"0.001\n|")
        f.write(b"x" * size)
        f.write(b"|")
        f.write(b"\0" * size)  # after the last bar
    result = subprocess.run([program, "text.txt"], cwd=work, input=b"\n", capture_output=True,
                            preexec_fn=limit(32), timeout=120)
    check(result.returncode == 0 and len(result.stdout) == size + 2, "64 MB of text under 32 MiB: %r %r"
          % (result.returncode, result.stdout[-40:]))
    check(read(os.path.join(work, "text.wav")) == reference.convert(b"0.001\n|x|", "")[0],
          "64 MB of text: the WAV")
    write(os.path.join(work, "notes.txt"), b"0.001\n" + b"1d" * (20 << 20) + b"|")
    write(os.path.join(work, "notes.wav"), b"old output")
    result = subprocess.run([program, "notes.txt"], cwd=work, input=b"\n", capture_output=True,
                            preexec_fn=limit(32), timeout=120)
    check((result.returncode, result.stdout) == (1, b"Not enough memory.\n"),
          "40 MB of notes under 32 MiB: %r %r" % (result.returncode, result.stdout[-40:]))
    check(read(os.path.join(work, "notes.wav")) == b"old output" and temporaries(work) == [],
          "not enough memory: old output kept, nothing left behind")
    def same_under_limit(name, score, megabytes, what):
        """The score converts under the limit to the WAV it gives without one."""
        write(os.path.join(work, name + ".txt"), score)
        status, _, _ = run(program, [name + ".txt"], work)
        expected = read(os.path.join(work, name + ".wav"))
        os.remove(os.path.join(work, name + ".wav"))
        result = subprocess.run([program, name + ".txt"], cwd=work, input=b"\n", capture_output=True,
                                preexec_fn=limit(megabytes), timeout=120)
        check(status == 0 and result.returncode == 0 and read(os.path.join(work, name + ".wav")) == expected,
              "%s under %d MiB: %r %r" % (what, megabytes, result.returncode, result.stderr[-80:]))

    # Where memory is short for the renderer's tables, it takes its exact way.
    same_under_limit("tables", b"16\n1d1m1s|2d2m2s|1r1f1l|2r2f2l|", 10, "16 s chords, without tables")
    # 400,000 different chords, each twice: the chord cache keeps to its budget.
    notes = [b"%d%c" % (pitch // 7, b"drmfslt"[pitch % 7]) for pitch in range(28)]
    chords = [b"".join(notes[i] for i in four) for four in itertools.islice(itertools.permutations(range(28), 4), 400000)]
    same_under_limit("cache", b"0.0001\n" + b"".join(c + b"|" + c + b"|\n" for c in chords), 16, "800,000 chords")


def acl_of(path):
    """The access control list of path as getfacl prints it, without its header."""
    listing = subprocess.run(["getfacl", "--omit-header", path], capture_output=True, check=True).stdout
    return sorted(listing.split())


def test_acl_kept(program, work, shim=None):
    """A replaced output keeps its access control list, and its group no more."""
    if not (shutil.which("setfacl") and shutil.which("getfacl")):
        raise Skipped("access control lists (apt-get install acl)")
    write(os.path.join(work, "acl.txt"), b"0.001\n1d|")
    output = os.path.join(work, "acl.wav")
    for mode, env in preload_modes(shim):
        write(output, b"old output")
        os.chmod(output, 0o640)
        subprocess.run(["setfacl", "-m", "u:nobody:r--,g::---", output], check=True)
        before = acl_of(output)
        status, _, _ = run(program, ["acl.txt"], work, env=env)
        check(status == 0 and read(output) != b"old output" and acl_of(output) == before
              and b"user:nobody:r--" in before, "%s: the ACL is kept: %r" % (mode, acl_of(output)))
    # A folder's default list does not widen an output that had none.
    shared = os.path.join(work, "shared")
    os.mkdir(shared)
    subprocess.run(["setfacl", "-d", "-m", "u:nobody:rw", shared], check=True)
    write(os.path.join(shared, "acl.txt"), b"0.001\n1d|")
    output = os.path.join(shared, "acl.wav")
    for mode, env in preload_modes(shim):
        write(output, b"old output")
        subprocess.run(["setfacl", "-b", output], check=True)
        os.chmod(output, 0o660)
        before = acl_of(output)
        status, _, _ = run(program, ["acl.txt"], shared, env=env)
        check(status == 0 and read(output) != b"old output" and acl_of(output) == before
              and os.stat(output).st_mode & 0o7777 == 0o660,
              "%s: a folder's default ACL does not widen the output: %r" % (mode, acl_of(output)))


def test_permissions_kept(program, work):
    write(os.path.join(work, "kept.txt"), b"0.001\n1d|")
    output = os.path.join(work, "kept.wav")
    write(output, b"old output")
    os.chmod(output, 0o600)
    if os.getuid() == 0:
        os.chown(output, 65534, 65534)
    result = subprocess.run([program, "kept.txt"], cwd=work, input=b"\n", capture_output=True,
                            preexec_fn=lambda: os.umask(0), timeout=60)
    info = os.stat(output)
    check(result.returncode == 0 and read(output) != b"old output", "replaced: %r" % result.returncode)
    check(info.st_mode & 0o7777 == 0o600, "a replaced output keeps its mode: %o" % info.st_mode)
    if os.getuid() == 0:
        check((info.st_uid, info.st_gid) == (65534, 65534), "and its owner and group")
    os.remove(output)
    subprocess.run([program, "kept.txt"], cwd=work, input=b"\n", capture_output=True,
                   preexec_fn=lambda: os.umask(0o027), timeout=60)
    check(os.stat(output).st_mode & 0o7777 == 0o640, "a new output follows the umask")


def test_links_and_set_id_bits(program, work):
    """A link at the output's place gives a plain new file of the runner's,
    and its target is left as it was; a replaced file keeps its permission
    bits but never a set-id bit."""
    write(os.path.join(work, "song.txt"), b"0.001\n1d|")
    target = os.path.join(work, "theirs")
    write(target, b"their file")
    if os.getuid() == 0:
        os.chown(target, 65534, 65534)
    os.chmod(target, 0o4666)  # after the change of owner, which clears it
    output = os.path.join(work, "song.wav")
    os.symlink("theirs", output)
    status, _, err = run_with_umask(program, ["song.txt"], work, 0o022)
    info = os.lstat(output)
    check(status == 0 and err == b"" and not os.path.islink(output), "link replaced: %r %r" % (status, err))
    check((info.st_mode & 0o7777, info.st_uid) == (0o644, os.getuid()),
          "a link's place gets a new file's mode and owner: %o %d" % (info.st_mode, info.st_uid))
    check(read(target) == b"their file" and os.stat(target).st_mode & 0o7777 == 0o4666,
          "the link's target is untouched")
    os.chmod(output, 0o6775)
    status, _, _ = run_with_umask(program, ["song.txt"], work, 0)
    check(status == 0 and os.stat(output).st_mode & 0o7777 == 0o775,
          "a replaced file keeps its permission bits, no set-id bit: %o" % os.stat(output).st_mode)


def run_with_umask(program, args, cwd, mask):
    result = subprocess.run([program] + args, cwd=cwd, input=b"\n", capture_output=True,
                            preexec_fn=lambda: os.umask(mask), timeout=60)
    return result.returncode, result.stdout, result.stderr


def test_sweep_of_foreign_files(program, work):
    """Thousands of other users' files named like a dead run's in a sticky
    folder: the run ends well and says so in one line, not one a file."""
    if os.getuid() != 0:
        raise Skipped("the foreign files need another user: run as root")
    folder = os.path.join(work, "sticky")
    os.mkdir(folder)
    os.chmod(folder, 0o1777)
    os.chmod(work, 0o755)
    os.chmod(os.path.dirname(work), 0o755)
    count = 10000
    for i in range(count):
        write(os.path.join(folder, ".score2wav-%016x.tmp" % i), b"")
    write(os.path.join(folder, "song.txt"), b"0.001\n1d|")
    os.chmod(os.path.join(folder, "song.txt"), 0o644)
    result = subprocess.run([program, "song.txt"], cwd=folder, input=b"\n", capture_output=True,
                            preexec_fn=as_nobody, timeout=120)
    first = os.path.join(folder, ".score2wav-%016x.tmp" % 0)
    check(result.returncode == 0 and os.path.exists(os.path.join(folder, "song.wav")),
          "sticky folder: %r" % result.returncode)
    lines = result.stderr.splitlines()
    check(len(lines) == 1 and lines[0].startswith(b'score2wav: cannot remove "') and
          lines[0].endswith(b'": Operation not permitted (and %d other files)' % (count - 1)),
          "one line for all the files it could not remove: %r" % result.stderr[:300])
    check(os.path.exists(first) and len(temporaries(folder)) == count, "the foreign files stay")


def test_read_only_output(program, work):
    """A read-only output is refused, for an ordinary user and for root alike."""
    folder = os.path.join(work, "shared")
    os.mkdir(folder)
    os.chmod(folder, 0o777)
    os.chmod(work, 0o755)
    os.chmod(os.path.dirname(work), 0o755)
    write(os.path.join(folder, "song.txt"), b"0.001\n1d|")
    write(os.path.join(folder, "song.wav"), b"old output")
    os.chmod(os.path.join(folder, "song.wav"), 0o444)
    users = [("root", None)] if os.getuid() == 0 else []
    users.append(("an ordinary user", as_nobody))
    for who, become in users:
        result = subprocess.run([program, "song.txt"], cwd=folder, input=b"\n", capture_output=True,
                                preexec_fn=become, timeout=60)
        check((result.returncode, result.stdout) == (1, b"File open error as write.\n"),
              "read-only output, %s: %r %r" % (who, result.returncode, result.stdout))
        check(read(os.path.join(folder, "song.wav")) == b"old output", "read-only output kept, " + who)


def as_nobody():  # root writes anywhere; run as an ordinary user
    if os.getuid() == 0:
        os.setgroups([])
        os.setgid(65534)
        os.setuid(65534)


def test_folder_lock_held(program, work):
    """Whoever holds a lock on the folder makes no run wait for it."""
    import fcntl
    write(os.path.join(work, "locked.txt"), b"0.001\n1d|")
    folder = os.open(work, os.O_RDONLY)
    fcntl.flock(folder, fcntl.LOCK_EX)
    try:
        status, _, _ = run(program, ["locked.txt"], work, timeout=10)
    except subprocess.TimeoutExpired:
        status = "waited"
    os.close(folder)
    check(status == 0 and read(os.path.join(work, "locked.wav")) is not None,
          "a lock held on the folder makes the run wait: %r" % status)


def test_parallel_runs(program, work):
    write(os.path.join(work, "same.txt"), b"0.2\n" + b"1d1m1s|2d2m|1r|" * 20)
    status, _, _ = run(program, ["same.txt"], work)
    expected = read(os.path.join(work, "same.wav"))
    os.remove(os.path.join(work, "same.wav"))
    children = [subprocess.Popen(command(program, ["same.txt"]), cwd=work, stdin=subprocess.PIPE,
                                 stdout=subprocess.DEVNULL) for _ in range(6)]
    for child in children:
        child.communicate(b"\n", timeout=60)
    check(status == 0 and all(child.returncode == 0 for child in children), "parallel runs succeed")
    check(read(os.path.join(work, "same.wav")) == expected, "parallel runs: whole, correct output")
    check(temporaries(work) == [], "parallel runs: no temporary files left")


def test_folder_refuses_new_files(program, work):
    folder = os.path.join(work, "locked")
    os.mkdir(folder)
    write(os.path.join(folder, "song.txt"), b"0.001\n1d|")
    write(os.path.join(folder, "song.wav"), b"old output")
    os.chmod(os.path.join(folder, "song.wav"), 0o666)
    os.chmod(folder, 0o555)
    os.chmod(work, 0o755)
    os.chmod(os.path.dirname(work), 0o755)

    result = subprocess.run([program, "song.txt"], cwd=folder, input=b"\n", capture_output=True,
                            preexec_fn=as_nobody, timeout=60)
    check((result.returncode, result.stdout, result.stderr) ==
          (1, b"File open error as write.\n", b'score2wav: cannot write "song.wav": Permission denied\n'),
          "folder refusing new files: %r %r" % (result.stdout, result.stderr))
    check(read(os.path.join(folder, "song.wav")) == b"old output", "folder refusing new files: output kept")
    os.chmod(folder, 0o755)


def test_windows_reasons_in_utf8(program, work):
    """Through a pipe, a file name in a reason arrives as UTF-8, whatever the code page."""
    status, out, err = run(program, ["曲 ♪.txt"], work)
    check(status == 1 and err.startswith('score2wav: cannot open "曲 ♪.txt": '.encode()), "reason: %r" % err)
    # The system's own text ends the line, without its ".\r\n".
    said = err.split(b'": ', 1)[-1]
    check(said.endswith(b"\n") and len(said) > 1 and not said[:-1].endswith((b".", b"\r", b" ")), "reason: %r" % err)
    # A path as Explorer shows it, single backslashes; a folder called a folder.
    os.mkdir(os.path.join(work, "sub"))
    status, _, err = run(program, ["sub\\missing.txt"], work)
    check(status == 1 and err.startswith(b'score2wav: cannot open "sub\\missing.txt": '), "a path's backslashes: %r" % err)
    status, out, err = run(program, ["sub"], work)
    check((status, out, err) == (1, b"File open error as read.\n", b'score2wav: cannot open "sub": it is a folder, not a score\n'),
          "a folder as the score: %r %r" % (out, err))


def test_windows_paths(program, work):
    """File names outside any console code page, spaces, and backslashes."""
    for name in ("曲 ♪ é", "naïve song", "emoji \U0001F3B5"):
        folder = os.path.join(work, name + ".dir")
        os.mkdir(folder)
        write(os.path.join(folder, name + ".txt"), b"0.001\n2d2m|2m|")
        status, out, _ = run(program, [name + ".dir\\" + name + ".txt"], work)
        check(status == 0 and out == b"2d2m\n2m\n", "%r: %r %r" % (name, status, out))
        expected = reference.convert(b"0.001\n2d2m|2m|", "")[0]
        check(read(os.path.join(folder, name + ".wav")) == expected, "%r: the output beside the score" % name)


def test_windows_held_output(program, work):
    """An output another program holds open (here cmd.exe's redirection) is refused."""
    write(os.path.join(work, "held.txt"), b"0.001\n1d|")
    holder = subprocess.Popen(EMULATOR + ["cmd.exe", "/c", "pause > held.wav"], cwd=work,
                              stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    deadline = time.time() + 30
    while not os.path.exists(os.path.join(work, "held.wav")) and time.time() < deadline:
        time.sleep(0.1)
    time.sleep(0.5)
    status, out, _ = run(program, ["held.txt"], work)
    check((status, out) == (1, b"File open error as write.\n"), "held output: %r %r" % (status, out))
    holder.communicate(b"\n", timeout=60)
    status, out, _ = run(program, ["held.txt"], work)
    check((status, out) == (0, b"1d\n"), "released output is replaced: %r %r" % (status, out))


class Skipped(Exception):
    """Raised by a scenario that cannot run here, with the reason."""


SKIP_STATUS = 77  # what ctest counts as skipped


def scenarios(options):
    """Returns the scenarios that apply where the program runs, in order, as
    (name, run(program, folder)), with the reasons others do not apply."""
    data = options.data
    shim = options.fault_shim
    runs = [("golden_scores", lambda program, work: test_golden_scores(program, data, work)),
            ("encoded_twins", lambda program, work: test_encoded_twins(program, data, work))]
    plain = [test_arguments, test_help_and_version, test_output_rules, test_long_paths,
             test_closing_wait, test_parallel_runs, test_random_scores_match_model]
    shimmed = []
    left_out = []
    if EMULATOR:
        plain += [test_windows_paths, test_windows_held_output, test_windows_reasons_in_utf8]
        left_out.append("under %s: the POSIX fault tests (file-size limit, FIFO, signals, permissions)"
                        % " ".join(EMULATOR))
    else:
        plain += [test_file_size_limit, test_fifo_score, test_largest_wav, test_folder_refuses_new_files,
                  test_line_buffered_echo, test_closed_standard_streams, test_closed_pipes, test_echo_to_null_device,
                  test_score_changed, test_permissions_kept, test_links_and_set_id_bits,
                  test_sweep_of_foreign_files, test_read_only_output, test_unreadable_score,
                  test_closing_prompt_on_a_terminal, test_terminals, test_folder_lock_held]
        shimmed = [test_killed_runs, test_killed_commits, test_acl_kept, test_signals_write_nothing_twice]
        if options.sanitized:
            left_out.append("under sanitizers: the address-space limit test (they reserve terabytes)")
        else:
            plain.append(test_memory)
    runs += [(test.__name__[5:], test) for test in plain]
    runs += [(test.__name__[5:], lambda program, work, test=test: test(program, work, shim)) for test in shimmed]
    return runs, left_out


def run_one(name, run, program, work):
    """Runs one scenario in a folder of its own; returns whether it skipped."""
    folder = os.path.join(work, name)
    os.mkdir(folder)
    try:
        run(program, folder)
    except Skipped as skipped:
        print("skipped %s: %s" % (name, skipped))
        return True
    return False


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program")
    parser.add_argument("--data", required=True)
    parser.add_argument("--regenerate", action="store_true")
    parser.add_argument("--emulator", nargs="+", help="runs the program through this command, e.g. wine64")
    parser.add_argument("--fault-shim", help="a library to preload that plays faults (fault_shim.cpp)")
    parser.add_argument("--sanitized", action="store_true", help="the program runs under sanitizers")
    parser.add_argument("--list", action="store_true", help="prints the names of the scenarios that apply here")
    parser.add_argument("--only", help="runs this one scenario; exits 77 when it cannot run here")
    options = parser.parse_args()
    if options.emulator:
        EMULATOR.extend(options.emulator)
    if options.regenerate:
        regenerate(options.data)
        return 0
    runs, left_out = scenarios(options)
    if options.list:
        print(";".join(name for name, _ in runs))
        return 0
    if options.only is not None:
        runs = [(name, run) for name, run in runs if name == options.only]
        if not runs:
            print("no scenario %s applies here" % options.only)
            return 2
    else:
        for reason in left_out:
            print("skipped " + reason)
    program = os.path.abspath(options.program)
    with tempfile.TemporaryDirectory() as work:
        skipped = [name for name, run in runs if run_one(name, run, program, work)]
    if FAILURES:
        print("end-to-end: %d failed check(s)" % len(FAILURES))
        return 1
    if options.only is not None and skipped:
        return SKIP_STATUS
    print("end-to-end: all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
