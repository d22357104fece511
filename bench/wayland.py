"""Times vistrel against wlr-randr on Debian 12's phoc (wlroots 0.15), headless.

Run as root: python3 bench/wayland.py MEASURE PATH_TO_VISTREL [OTHER_VISTREL]
(MEASURE: bench/measure.c built). Two jobs, each run REPEATS times by every
program in alternation:
  list:            vistrel -output                 vs  wlr-randr
  change and back: vistrel -768 -1024 -32 -60 -1,  vs  wlr-randr --output HEADLESS-2 --custom-mode
                   then vistrel -restore                1024x768@60Hz, then 1280x720@60Hz
Prints the median wall time of each and the ratios. A benchmark, never a test.
"""

import os
import statistics
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import wlroots  # noqa: E402

REPEATS = 21


def timed(measure, argv, env, cwd):
    result = subprocess.run([measure, *argv], env=env, cwd=cwd, capture_output=True, text=True, check=True)
    return float(result.stdout.split()[0])


def main():
    measure, programs = os.path.abspath(sys.argv[1]), [os.path.abspath(p) for p in sys.argv[2:]]
    with tempfile.TemporaryDirectory(prefix="vistrel-bench-wayland.") as work, \
            wlroots.Driver(programs[0], work, "phoc") as driver:
        env, randr = driver.env, ["wlr-randr", "--output", "HEADLESS-2", "--custom-mode"]
        jobs = {"list": {"wlr-randr": [["wlr-randr"]]},
                "change and back": {"wlr-randr": [randr + ["1024x768@60Hz"], randr + ["1280x720@60Hz"]]}}
        for program in programs:
            jobs["list"][program] = [[program, "-output"]]
            jobs["change and back"][program] = [[program, "-768", "-1024", "-32", "-60", "-1"], [program, "-restore"]]
        randr_env = {k: env[k] for k in ("WAYLAND_DISPLAY", "XDG_RUNTIME_DIR")}
        randr_env["PATH"] = os.environ["PATH"]
        for job, commands in jobs.items():
            times = {name: [] for name in commands}
            for _ in range(REPEATS):
                for name, steps in commands.items():
                    times[name].append(sum(timed(measure, step, randr_env if name == "wlr-randr" else env, work)
                                           for step in steps))
            medians = {name: statistics.median(t) * 1000 for name, t in times.items()}
            print("%s: " % job + ", ".join("%s %.2f ms (%.2fx wlr-randr)" % (name, ms, ms / medians["wlr-randr"])
                                            for name, ms in medians.items()))


if __name__ == "__main__":
    main()
