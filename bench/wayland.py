"""Times vistrel against each Wayland desktop's own tool, on the compositors
that the end-to-end tests start (their drivers, in tests/e2e):

  phoc (wlroots): vistrel -output      vs  wlr-randr
                  vistrel -H -W -32 -60 -1  vs  wlr-randr --output NAME --custom-mode WxH@60Hz
  KWin:           vistrel -output      vs  kscreen-doctor -o
  Mutter (GNOME): vistrel -output and a change, against OTHER_VISTREL where
                  given (another build, to compare two builds), else alone

Run as root: python3 bench/wayland.py MEASURE PATH_TO_VISTREL [OTHER_VISTREL]
(bench/run does it). Each job runs REPEATS times per program, in
alternation; a change alternates between two modes, so every run changes
the mode. Prints median wall times and their ratio. A benchmark, never a
test: nothing here fails on a figure.
"""

import os
import shutil
import statistics
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import gnome  # noqa: E402
import kwin  # noqa: E402
import wlroots  # noqa: E402

REPEATS = 21


def run(argv, env):
    """Returns the wall seconds of one run, which must succeed."""
    result = subprocess.run([MEASURE, *argv], env=env, capture_output=True, text=True)
    if result.returncode != 0:
        raise RuntimeError("%s exited with %d" % (" ".join(argv), result.returncode))
    return float(result.stdout.split()[0])


def compare(label, job, ours, theirs, env):
    """Runs the argument lists `ours` and `theirs` in turn (each a list that is
    cycled through; which goes first alternates too) and prints both medians
    and their ratio."""
    times = ([], [])
    for i in range(REPEATS):
        for argvs, into in list(zip((ours, theirs), times))[::1 - i % 2 * 2]:
            into.append(run(argvs[i % len(argvs)], env))
    ours_t, theirs_t = (statistics.median(t) for t in times)
    print("  %-6s %-7s vistrel %6.2f ms   %-22s %6.2f ms   ratio %.2f"
          % (label, job, ours_t * 1e3, os.path.basename(theirs[0][0]), theirs_t * 1e3, ours_t / theirs_t))


def change(program, height, width):
    return [program, "-%d" % height, "-%d" % width, "-32", "-60", "-1"]


def main():
    global MEASURE
    MEASURE, built, other = sys.argv[1], sys.argv[2], (sys.argv[3:] or [None])[0]
    print("Wayland: %d runs of each program per job, alternating (ratio: vistrel / the other)" % REPEATS)
    with tempfile.TemporaryDirectory(prefix="vistrel-bench.") as work, wlroots.Driver(built, work) as phoc:
        program, env = phoc.command[0], phoc.env
        compare("phoc", "list", [[program, "-output"]], [["wlr-randr"]], env)
        compare("phoc", "change", [change(program, 768, 1024), change(program, 600, 800)],
                [["wlr-randr", "--output", "HEADLESS-2", "--custom-mode", size + "@60Hz"]
                 for size in ("800x600", "1024x768")],
                env)
    with tempfile.TemporaryDirectory(prefix="vistrel-bench.") as work, kwin.Driver(built, work) as kde:
        # kscreen-doctor reads KWin in process, on the display the driver gives the program.
        env = dict(kde.env, HOME=work, QT_QPA_PLATFORM="wayland", KSCREEN_BACKEND_INPROCESS="1")
        program = kde.command[0]
        compare("KWin", "list", [[program, "-output"]], [["kscreen-doctor", "-o"]], env)
    with tempfile.TemporaryDirectory(prefix="vistrel-bench.") as work, gnome.Driver(built, work) as mutter:
        program, env = mutter.command[0], mutter.env
        theirs = shutil.copy(other, os.path.join(work, "other")) if other else program
        compare("GNOME", "list", [[program, "-output"]], [[theirs, "-output"]], env)
        # Each run changes the mode that the run before it left.
        compare("GNOME", "change", [change(program, 768, 1024), change(program, 600, 800)],
                [change(theirs, 600, 800), change(theirs, 768, 1024)], env)

if __name__ == "__main__":
    main()
