# The Linux program on X11: a private Xorg dummy display (tests/xserver),
# read and set with xrandr.

import os
import re
import subprocess

from cases import Case, NUMERIC
from linux import LinuxDriver

WITH_XSERVER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "xserver", "with-xserver")


class Driver(LinuxDriver):
    def __enter__(self):
        # with-xserver keeps its server until the shell's read ends.
        self.server = subprocess.Popen([WITH_XSERVER, "sh", "-c", 'echo "$DISPLAY"; read line'],
                                       stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.env["DISPLAY"] = self.server.stdout.readline().strip()
        return self

    def __exit__(self, *exception):
        self.server.stdin.close()
        self.server.wait(timeout=60)

    def xrandr(self, *args):
        return subprocess.run(["xrandr", *args], env=self.env, check=True, capture_output=True, text=True).stdout

    def set_mode(self, width, height, rate):
        self.xrandr("--output", "DUMMY0", "--mode", "%dx%d" % (width, height), "--rate", str(rate))

    def mode(self):
        # The device's mode as (width, height, Hz), its size taken from the
        # screen: a screen not fitted to the mode shows as a wrong size.
        text = self.xrandr("--current")
        screen = re.search(r"current (\d+) x (\d+)", text)
        size, rates = re.search(r"^\s+(\d+x\d+)\s+(.*\*.*)$", text, re.M).groups()
        rate = float(re.search(r"([\d.]+)\*", rates).group(1))
        if size != "%sx%s" % screen.groups():
            return size, "on a screen of %sx%s" % screen.groups(), rate
        return int(screen.group(1)), int(screen.group(2)), rate

    def modes(self):
        # The output's modes in the server's order, as (width, height, 32, whole Hz).
        text = self.xrandr("--verbose").split("\nDUMMY0 ")[1].split("\n", 1)[1]
        text = re.split(r"\n\S", text)[0]
        sizes = re.findall(r"h: width\s+(\d+).*\n\s+v: height\s+(\d+).*clock\s+([\d.]+)Hz", text)
        return [(int(w), int(h), 32, int(float(hz) + 0.5)) for w, h, hz in sizes]


CASES = [
    Case("no X server at the display: one line, nothing changed", NUMERIC, env={"DISPLAY": ":199"}, status=3,
         message=("Vistrel", 'cannot open display ":199"')),
]
