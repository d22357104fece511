# The Linux program on the wlroots family: phoc headless, as root, with two
# virtual heads, HEADLESS-1 announced first and HEADLESS-2 second, at 0,0:
# the device. Read and set with wlr-randr. Virtual heads take any size as a
# custom mode, so sizes and rates they do not list are set, not refused.

import os
import re
import subprocess
import time

import x11
from cases import NUMERIC, OLD, Case

# A head's name, its mode in force and its place, as wlr-randr prints them.
HEAD = r"^(\S+) .*?^ +(\d+)x(\d+) px, ([\d.]+) Hz \(current\).*?Position: (-?\d+),(-?\d+)"


class Driver(x11.Driver):
    rate_tolerance = 0.0005  # Hz: custom modes are read back exactly, in mHz

    def __enter__(self):
        self.env.update(XDG_RUNTIME_DIR=self.work, WAYLAND_DISPLAY="wayland-0", WLR_BACKENDS="headless",
                        WLR_RENDERER="pixman", WLR_LIBINPUT_NO_DEVICES="1", WLR_HEADLESS_OUTPUTS="2")
        self.env.pop("DBUS_SESSION_BUS_ADDRESS", None)  # no GNOME
        config, log = os.path.join(self.work, "phoc.ini"), os.path.join(self.work, "phoc.log")
        with open(config, "w") as f:
            f.write("[core]\nxwayland=false\n")  # else it takes shared X display numbers
        with open(log, "w") as f:
            self.phoc = subprocess.Popen(["phoc", "-C", config], env=self.env, stdout=f, stderr=subprocess.STDOUT)
        # Its socket outlives it: wait for its word instead.
        while "Running compositor on wayland display" not in open(log).read() and self.phoc.poll() is None:
            time.sleep(0.05)
        return self

    def __exit__(self, *exception):
        self.phoc.terminate()
        self.phoc.wait(timeout=60)

    def randr(self, *args):
        return subprocess.run(["wlr-randr", *args], env=self.env, check=True, capture_output=True, text=True).stdout

    def set_mode(self, width, height, rate):
        # HEADLESS-1, at its 1280x720 at 60 Hz, right beside the device, tops aligned.
        self.randr("--output", "HEADLESS-2", "--custom-mode", "%dx%d@%gHz" % (width, height, rate), "--pos", "0,0",
                   "--output", "HEADLESS-1", "--pos", "%d,0" % width)

    def heads(self):
        return {name: tuple(map(float, rest)) for name, *rest in re.findall(HEAD, self.randr(), re.M | re.S)}

    def mode(self):
        # HEADLESS-2's mode as (width, height, Hz); shown as wrong unless it
        # is at 0,0 and HEADLESS-1 keeps its mode right beside it, as the
        # layout rule puts it.
        (width, height, rate, x, y), other = self.heads()["HEADLESS-2"], self.heads()["HEADLESS-1"]
        if (x, y) != (0, 0) or other != (1280, 720, 60, width, 0):
            return "%dx%d at %d,%d" % (width, height, x, y), "beside HEADLESS-1 at %r" % (other,), rate
        return int(width), int(height), rate

    def modes(self):
        # A virtual head lists only its mode in force.
        width, height, rate, _, _ = self.heads()["HEADLESS-2"]
        return [(int(width), int(height), 32, int(rate + 0.5))]

    def run_while_the_server_goes(self, args):
        # Here the compositor stays, but another client changes the device's
        # rate while the program waits: its configuration is stale.
        return self.run_holding_the_store(args, self.env, lambda: self.set_mode(1280, 1024, 60))


CASES = [
    Case("a virtual head: rate 0 keeps the rate in force", ["-600", "-800", "-32", "-0", "-1"], mode="1024x768@60",
         mode_after="800x600@60"),
    Case("a virtual head: a size that cannot be a mode is refused, not sent", ["-restore"],
         saved=("-5", "480", "32", "60"), status=3),
    Case("the compositor cancels a change whose outputs changed meanwhile: the saved mode kept", NUMERIC,
         saved="pipe", status=3, mode_after="1280x1024@60", saved_after=OLD,
         message=("Vistrel", "the compositor cancelled the change of HEADLESS-2 to 1024x768 at 60 Hz: its outputs "
                             "changed meanwhile")),
]
