"""Times vistrel against xrandr on the X display that DISPLAY names.

Run as: python3 bench.py MEASURE PATH_TO_VISTREL LABEL  (bench/run does it)

Two jobs, each run REPEATS times by both programs in alternation:
  list:   vistrel -output                 vs  xrandr --current
  change: vistrel -H -W -32 -R -1         vs  xrandr --output NAME --mode WxH --rate R
Mode changes go back and forth between two modes, so every run changes the
mode. Prints the median wall time of each program, their ratio, and each
program's peak resident memory. A benchmark, never a test: nothing here fails
on a figure.
"""

import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile

REPEATS = 31


MEASURE = None  # the measure helper (measure.c), from the command line


def run(argv, env):
    """Returns (wall seconds, peak resident KiB) of one run."""
    result = subprocess.run([MEASURE, *argv], env=env, capture_output=True, text=True)
    if result.returncode != 0:
        raise RuntimeError("%s exited with %d" % (" ".join(argv), result.returncode))
    seconds, kib = result.stdout.split()
    return float(seconds), int(kib)


def device_and_modes():
    text = subprocess.run(["xrandr", "--current"], check=True, capture_output=True, text=True).stdout
    device = re.search(r"^(\S+) connected", text, re.M).group(1)
    return device, len(re.findall(r"^   \S", text, re.M)) + sum(
        len(re.findall(r"\d+\.\d+", line)) - 1 for line in re.findall(r"^   \S.*$", text, re.M))


def report(job, ours, theirs):
    ours_t, theirs_t = statistics.median(t for t, _ in ours), statistics.median(t for t, _ in theirs)
    print("  %-7s vistrel %7.2f ms   xrandr %7.2f ms   ratio %.2f   peak memory: vistrel %d KiB, xrandr %d KiB"
          % (job, ours_t * 1e3, theirs_t * 1e3, ours_t / theirs_t, max(m for _, m in ours), max(m for _, m in theirs)))


def main():
    global MEASURE
    MEASURE, vistrel_built, label = sys.argv[1:4]
    work = tempfile.mkdtemp(prefix="vistrel-bench.")
    try:
        program = os.path.join(work, "vistrel")
        shutil.copy(vistrel_built, program)
        env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(work, "config"))
        device, count = device_and_modes()
        print("%s: %d modes on %s, %d runs of each program per job, alternating" % (label, count, device, REPEATS))

        ours, theirs = [], []
        for _ in range(REPEATS):
            ours.append(run([program, "-output"], env))
            theirs.append(run(["xrandr", "--current"], env))
        report("list", ours, theirs)

        targets = [("1024", "768", "60"), ("800", "600", "60")]
        ours, theirs = [], []
        for i in range(REPEATS):
            w, h, r = targets[0]
            ours.append(run([program, "-" + h, "-" + w, "-32", "-" + r, "-1"], env))
            w, h, r = targets[1]
            theirs.append(run(["xrandr", "--output", device, "--mode", "%sx%s" % (w, h), "--rate", r], env))
        report("change", ours, theirs)
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
