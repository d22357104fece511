# The Linux program on KDE Plasma: KWin's virtual backend with two outputs, in
# a session bus of its own, read and set with kscreen-doctor. VARIANT: the
# host's KWin 5.27 (""), or 6.3 ("trixie") or 6.7 ("sid") in its chroot. Before
# 6.7 an output lists one mode, the one in force, so a change to any other is
# refused before anything is sent (run.py, `only_mode`). 6.7 is given the
# custom modes that rows use (Virtual-1 the first), announces Virtual-1 before
# Virtual-0, the device, first in Plasma's order, and sets the arrangements.

import json
import os
import shutil

import chroot
import x11
from cases import OLD, Case

SOCKET = "vistrel-e2e"
ARGS = ("--virtual --output-count 2 --width 1024 --height 768 --no-lockscreen --no-global-shortcuts --socket " +
        SOCKET).split()
# The modes that rows use, asked in mHz so that KWin's rates (by CVT) come within 0.15 Hz of them.
CUSTOM = [(1280, 1024, 75100), (1024, 768, 75000), (800, 600, 60000), (800, 600, 56250), (640, 480, 60250)]
# Virtual-0's scale and rotation, and Virtual-1: 1024x768 beside it (at its edge as KWin rounds it), or in its
# size replicating it (left at 3000,0) or unified with it at 0,0.
ARRANGEMENTS = {"": (1, "normal", "beside"), "scale 1.2": (1.2, "normal", "beside"),
                "mirrored and turned": (1, "left", "replica"), "one position": (1, "normal", "unified")}
SEVEN = "-600 -800 -32 -60 -1".split()


class Driver(x11.Driver):
    rate_tolerance = 0.15  # CVT's rates: 74.90 Hz for 75
    arrangements = property(lambda self: list(ARRANGEMENTS) if self.variant == "sid" else [""])
    only_mode = property(lambda self: None if self.variant == "sid" else "1024x768@60")

    def __enter__(self):
        run = os.path.join(self.work, "run")
        os.mkdir(run, 0o700)
        bus = "unix:path=%s/bus" % run
        self.inner = dict(HOME=run, XDG_RUNTIME_DIR=run, XDG_CONFIG_HOME=run, DBUS_SESSION_BUS_ADDRESS=bus,
                          WAYLAND_DISPLAY=SOCKET, QT_QPA_PLATFORM="wayland", KSCREEN_BACKEND_INPROCESS="1")
        self.env.update(WAYLAND_DISPLAY=os.path.join(run, SOCKET), DBUS_SESSION_BUS_ADDRESS=bus)
        # A copy named kwin_wayland: the installed one carries a file capability that root here cannot be given.
        kwin = shutil.copy(chroot.root(self.variant) + "/usr/bin/kwin_wayland", run)
        self.bus = self.start(["dbus-daemon", "--session", "--nofork", "--address=" + bus], run + "/bus")
        self.kwin = self.start([kwin, *ARGS], run + "/" + SOCKET)
        if self.variant == "sid":
            self.doctor(*("output.Virtual-%d.addCustomMode.%d.%d.%d.full" % m for m in [(0, *c) for c in CUSTOM] +
                          [(1, *CUSTOM[0])]))
        return self

    def start(self, command, ready):
        return chroot.start(self.variant, self.work, command, self.inner, lambda: os.path.exists(ready))

    def __exit__(self, *exception):
        chroot.stop(self.kwin), chroot.stop(self.bus)

    def doctor(self, *args):
        return chroot.run(self.variant, self.work, ["kscreen-doctor", *args], self.inner)

    def outputs(self):
        # Each output's modes in KWin's order (kscreen numbers them so) as
        # (id, width, height, Hz), and what it shows: (width, height, Hz, x, y).
        outputs = {}
        for output in json.loads(self.doctor("-j"))["outputs"]:
            modes = sorted((int(m["id"]), m["size"]["width"], m["size"]["height"], m["refreshRate"])
                           for m in output["modes"])
            shown = next(m for m in modes if m[0] == int(output["currentModeId"]))[1:]
            outputs[output["name"]] = modes, shown + (output["pos"]["x"], output["pos"]["y"])
        return outputs

    def beside(self, width, height):
        # Virtual-1 as the arrangement puts it when Virtual-0 at 0,0 shows width x height: (width, height, x, y).
        scale, rotation, how = ARRANGEMENTS[self.arrangement]
        edge = int((height if rotation == "left" else width) / scale + 0.5)
        return dict(beside=(1024, 768, edge, 0), replica=(width, height, 3000, 0), unified=(width, height, 0, 0))[how]

    def set_mode(self, width, height, rate):
        outputs, (scale, rotation, how) = self.outputs(), ARRANGEMENTS[self.arrangement]
        (w, h, x, y), rate1 = self.beside(width, height), rate if how != "beside" else 60
        mode = [min((m for m in outputs[o][0] if m[1:3] == size), key=lambda m: abs(m[3] - r))[0]
                for o, size, r in (("Virtual-0", (width, height), rate), ("Virtual-1", (w, h), rate1))]
        self.doctor("output.Virtual-0.mode.%d" % mode[0], "output.Virtual-0.position.0,0",
                    "output.Virtual-0.scale.%g" % scale, "output.Virtual-0.rotation." + rotation,
                    "output.Virtual-1.mode.%d" % mode[1], "output.Virtual-1.position.%d,%d" % (x, y),
                    *["output.Virtual-1.mirror." + ["none", "Virtual-0"][how == "replica"]] * (self.variant == "sid"))

    def mode(self):
        # Virtual-0's (width, height, Hz); wrong unless it is at 0,0 and Virtual-1 is as the arrangement puts it.
        outputs = self.outputs()
        (width, height, rate, x, y), other = outputs["Virtual-0"][1], outputs["Virtual-1"][1]
        if (x, y) != (0, 0) or other[:2] + other[3:] != self.beside(width, height):
            return ("Virtual-0", width, height, x, y), ("Virtual-1",) + other, rate
        return width, height, rate

    def modes(self):
        return [(width, height, 32, int(rate + 0.5)) for _, width, height, rate in self.outputs()["Virtual-0"][0]]

    def run_while_the_server_goes(self, args):
        # Another client removes the mode asked for (800x600 at 60 Hz, the third custom mode) while the program waits.
        return self.run_holding_the_store(args, self.env, lambda: self.doctor("output.Virtual-0.removeCustomMode.2"))


CASES = [
    Case("a fractional scale: the neighbour kept at the edge as KWin rounds it", SEVEN, mode="1024x768@60",
         arrangement="scale 1.2", mode_after="800x600@60"),
    Case("outputs unified at one position, one without the size: refused", SEVEN, arrangement="one position",
         status=3, message=("Vistrel", "Virtual-1, which shows the same picture as Virtual-0, has no mode of 800x600 "
                                       "at 60 Hz")),
    # The last row: it removes a mode.
    Case("a mode removed meanwhile: KWin refuses, says why", SEVEN, saved="pipe", status=3, saved_after=OLD,
         on={"kwin": None, "kwin:sid": {}},
         message=("Vistrel", "kde_output_configuration_v2: KWin refused 800x600 at 59861 mHz on Virtual-0: "
                             "One of the relevant outputs is no longer available")),
]
