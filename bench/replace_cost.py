#!/usr/bin/env python3
"""What replacing an existing output costs, two ways, on this folder's file
system: the way score2wav does it (a new file swapped with the old by
renameat2's RENAME_EXCHANGE, then the old one removed) and a plain rename
over the old file. Each run writes a one-hour WAV's 28.8 MB in 256 KiB
blocks to an unnamed file (O_TMPFILE), links it under a temporary name and
replaces the output; runs come in batches of one way, as a user's runs
follow one another. Prints the median wall and CPU time of a whole run.

On ext4 a rename over an existing file starts writing the new file's data
out at once (the auto_da_alloc safeguard), and the runs that follow wait
for that writeback; the swap does not trigger it.

    python3 bench/replace_cost.py [--folder DIR] [--runs 15]
"""
import argparse
import ctypes
import os
import resource
import statistics
import tempfile
import time

RENAME_EXCHANGE = 2
AT_FDCWD = -100
AT_SYMLINK_FOLLOW = 0x400
libc = ctypes.CDLL(None, use_errno=True)


def cpu_seconds():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime


def one_run(folder, size, swap):
    block = b"\x80" * (256 << 10)
    output, temporary = os.path.join(folder, "out.wav"), os.path.join(folder, "out.tmp")
    wall, cpu = time.perf_counter(), cpu_seconds()
    fd = os.open(folder, os.O_TMPFILE | os.O_WRONLY, 0o666)
    for _ in range(size // len(block)):
        os.write(fd, block)
    if libc.linkat(AT_FDCWD, b"/proc/self/fd/%d" % fd, AT_FDCWD, temporary.encode(), AT_SYMLINK_FOLLOW) != 0:
        raise OSError(ctypes.get_errno(), "linkat")
    os.close(fd)
    if swap:
        if libc.renameat2(AT_FDCWD, temporary.encode(), AT_FDCWD, output.encode(), RENAME_EXCHANGE) != 0:
            raise OSError(ctypes.get_errno(), "renameat2")
        os.unlink(temporary)
    else:
        os.rename(temporary, output)
    return time.perf_counter() - wall, cpu_seconds() - cpu


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--folder", default=os.path.dirname(os.path.abspath(__file__)))
    parser.add_argument("--runs", type=int, default=15)
    parser.add_argument("--bytes", type=int, default=28800000)
    options = parser.parse_args()
    with tempfile.TemporaryDirectory(dir=options.folder) as folder:
        open(os.path.join(folder, "out.wav"), "wb").close()
        for batch in range(2):
            for swap, name in ((True, "swap and remove (score2wav)"), (False, "rename over the old file")):
                times = [one_run(folder, options.bytes, swap) for _ in range(options.runs)]
                if batch == 1:  # the first batch warms up
                    print("%-28s median %6.1f ms wall %6.1f ms CPU" % (
                        name, statistics.median(t[0] for t in times) * 1000,
                        statistics.median(t[1] for t in times) * 1000))


if __name__ == "__main__":
    main()
