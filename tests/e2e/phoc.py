# The Linux program on a wlroots compositor: phoc headless, as root, with two
# virtual heads (any size is a custom mode): HEADLESS-1 announced first, and
# HEADLESS-2, the device, at 0,0. Read and set with wlr-randr.

import os
import re
import subprocess

import x11
from cases import NUMERIC, OLD, Case

HEAD = r"^(\S+) .*?^ +(\d+)x(\d+) px, ([\d.]+) Hz \(current\).*?Position: (-?\d+),(-?\d+)"


class Driver(x11.Driver):
    rate_tolerance = 0.0005  # custom modes are read back exactly, in mHz
    arrangements = [""]  # its own outputs only

    def __enter__(self):
        self.env.update(XDG_RUNTIME_DIR=self.work, WAYLAND_DISPLAY="wayland-0", WLR_BACKENDS="headless",
                        WLR_RENDERER="pixman", WLR_LIBINPUT_NO_DEVICES="1", WLR_HEADLESS_OUTPUTS="2")
        self.env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        config, log = os.path.join(self.work, "phoc.ini"), os.path.join(self.work, "phoc.log")
        with open(config, "w") as f:
            f.write("[core]\nxwayland=false\n")
        with open(log, "w") as f:  # its socket outlives it: its log says when it serves
            self.phoc = x11.start(["phoc", "-C", config], self.env, lambda: "Running compositor" in open(log).read(), f)
        return self

    def __exit__(self, *exception):
        x11.stop(self.phoc)

    def randr(self, *args):
        return subprocess.run(["wlr-randr", *args], env=self.env, check=True, capture_output=True, text=True).stdout

    def set_mode(self, width, height, rate):
        self.randr("--output", "HEADLESS-2", "--custom-mode", "%dx%d@%gHz" % (width, height, rate), "--pos", "0,0",
                   "--output", "HEADLESS-1", "--pos", "%d,0" % width)

    def mode(self):
        # HEADLESS-2's (width, height, Hz); wrong unless it is at 0,0 and
        # HEADLESS-1 keeps its mode beside it, as the layout rule puts it.
        heads = {name: tuple(map(float, rest)) for name, *rest in re.findall(HEAD, self.randr(), re.M | re.S)}
        (width, height, rate, x, y), other = heads["HEADLESS-2"], heads["HEADLESS-1"]
        if (x, y) != (0, 0) or other != (1280, 720, 60, width, 0):
            return "%dx%d at %d,%d" % (width, height, x, y), "beside HEADLESS-1 at %r" % (other,), rate
        return int(width), int(height), rate

    def modes(self):  # a virtual head lists only its mode in force
        width, height, rate = self.mode()
        return [(width, height, 32, int(rate + 0.5))]

    def run_while_the_server_goes(self, args):
        # Another client changes the device's rate while the program waits.
        return self.run_holding_the_store(args, self.env, lambda: self.set_mode(1280, 1024, 60))


CASES = [
    Case("a virtual head: rate 0 keeps the rate in force", ["-600", "-800", "-32", "-0", "-1"], mode="1024x768@60",
         mode_after="800x600@60"),
    Case("a virtual head: a size that cannot be a mode is not sent", ["-restore"], saved=("-5", "480", "32", "60"),
         status=3),
    Case("a change based on outputs changed meanwhile is cancelled", NUMERIC, saved="pipe", status=3,
         mode_after="1280x1024@60", saved_after=OLD,
         message=("Vistrel", "the compositor cancelled the change of HEADLESS-2 to 1024x768 at 60 Hz: its .*")),
]
