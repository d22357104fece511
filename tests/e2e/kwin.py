# The Linux program on KDE Plasma: KWin's virtual backend with two outputs, in
# a session bus of its own, read and set with kscreen-doctor. VARIANT: the
# host's KWin 5.27 (""), or 6.3 ("trixie") or 6.7 ("sid") in its chroot. Before
# 6.7 an output lists one mode, the one in force, so a change to any other is
# refused before anything is sent (run.py, `only_mode`). 6.7 is given the
# custom modes that rows use (Virtual-1 one for it as a replica), announces Virtual-1 before Virtual-0, the device, first in
# Plasma's order, and sets the arrangements. Every step waits, bounded, until
# KWin shows what it was asked: its sockets answer, its outputs are announced,
# and kscreen-doctor had its effect (older ones return before KWin answers).

import json
import shutil
import socket

import chroot
import x11
from cases import Case

SOCKET = "vistrel-e2e"
ARGS = "--virtual --output-count 2 --width 1024 --height 768 --no-lockscreen --no-global-shortcuts".split()
# The modes that rows use, asked in mHz so that KWin's rates (by CVT) come within 0.15 Hz of them.
CUSTOM = [(1280, 1024, 75100), (1024, 768, 75000), (800, 600, 60000)]
# Virtual-1's: one of a size no row gives Virtual-0, for it as a replica.
CUSTOM_1 = [(1280, 720, 60000)]
# kscreen's rotations by their numbers.
ROTATIONS = {1: "normal", 2: "left", 4: "inverted", 8: "right"}
SEVEN = "-600 -800 -32 -60 -1".split()


class Driver(x11.Driver):
    # CVT's rates: 74.90 Hz for 75.
    rate_tolerance = 0.15
    # Each output as "NAME SIZE X,Y [xSCALE] [tROTATION] [=THE ONE IT REPLICATES]", Virtual-0's SIZE {m}.
    arrangements = property(lambda self: x11.ARRANGEMENTS["kwin:sid" if self.variant == "sid" else "kwin"])
    only_mode = property(lambda self: None if self.variant == "sid" else "1024x768@60")

    def __enter__(self):
        bus = "unix:path=%s/bus" % self.work
        self.inner = dict(DBUS_SESSION_BUS_ADDRESS=bus, WAYLAND_DISPLAY=SOCKET, QT_QPA_PLATFORM="wayland",
                          KSCREEN_BACKEND_INPROCESS="1")
        self.env.update(WAYLAND_DISPLAY=self.work + "/" + SOCKET, DBUS_SESSION_BUS_ADDRESS=bus)
        # A copy named kwin_wayland: the installed one carries a file capability that root here cannot be given.
        kwin = shutil.copy(chroot.root(self.variant) + "/usr/bin/kwin_wayland", self.work)
        self.bus = self.start(["dbus-daemon", "--session", "--nofork", "--address=" + bus], self.work + "/bus")
        self.service = self.start([kwin, *ARGS, "--socket", SOCKET], self.work + "/" + SOCKET)
        # Both outputs, each in a mode.
        counts = chroot.until(self.counts)
        if self.variant == "sid":
            added = [(0, *m) for m in CUSTOM] + [(1, *m) for m in CUSTOM_1]
            self.doctor(*("output.Virtual-%d.addCustomMode.%d.%d.%d.full" % m for m in added))
            listed = counts[0] + len(CUSTOM), counts[1] + len(CUSTOM_1)
            chroot.until(lambda: self.counts() == listed)
        return self

    def start(self, command, path):
        # Ready once its socket at `path` answers: bound, it may not listen yet.
        return chroot.start(self.variant, self.work, command, self.inner,
                            lambda: socket.socket(socket.AF_UNIX).connect_ex(path) == 0)

    def counts(self):
        # How many modes Virtual-0 and Virtual-1 list, each shown in one of them.
        outputs = self.outputs()
        return len(outputs["Virtual-0"]["modes"]), len(outputs["Virtual-1"]["modes"])

    def __exit__(self, *exception):
        chroot.stop(self.service), chroot.stop(self.bus)

    def doctor(self, *args):
        return chroot.run(self.variant, self.work, ["kscreen-doctor", *args], self.inner)

    def outputs(self):
        # kscreen's outputs by name, their modes in KWin's order (kscreen
        # numbers them so) as (id, width, height, Hz), the one shown first.
        outputs = {o["name"]: o for o in json.loads(self.doctor("-j"))["outputs"]}
        for o in outputs.values():
            o["modes"] = sorted((int(m["id"]), m["size"]["width"], m["size"]["height"], m["refreshRate"])
                                for m in o["modes"])
            o["shown"] = next(m for m in o["modes"] if m[0] == int(o["currentModeId"]))
        return outputs

    def set_mode(self, width, height, rate):
        outputs, args = self.outputs(), []
        for name, size, place, *how in (o.split() for o in self.layout(width, height, rate).split(" | ")):
            how = {"x": "1", "t": "normal", "=": "none", **{h[0]: h[1:] for h in how}}
            # An output of the device's size at its rate too.
            hz = rate if size == "%dx%d" % (width, height) else 60
            size = tuple(map(int, size.split("x")))
            mode = min((m for m in outputs[name]["modes"] if m[1:3] == size), key=lambda m: abs(m[3] - hz))
            keys = ["mode.%d" % mode[0], "position." + place, "scale." + how["x"], "rotation." + how["t"]]
            args += ["output.%s.%s" % (name, key) for key in keys + ["mirror." + how["="]] * (self.variant == "sid")]
        self.doctor(*args)
        chroot.until(lambda: (m := self.mode())[:2] == (width, height) and abs(m[2] - rate) <= self.rate_tolerance)

    def shown(self):
        # Virtual-0's mode, and each output as the arrangements write it.
        outputs = self.outputs()
        names, shown = {o["id"]: name for name, o in outputs.items()}, []
        for name, o in outputs.items():
            scale, turn, source = o["scale"], ROTATIONS[o["rotation"]], names.get(o.get("replicationSource"))
            shown.append("%s %dx%d %d,%d" % (name, *o["shown"][1:3], o["pos"]["x"], o["pos"]["y"])
                         + " x%g" % round(scale, 2) * (scale != 1) + (" t" + turn) * (turn != "normal")
                         + " =%s" % source * bool(source))
        return outputs["Virtual-0"]["shown"][1:], shown

    def modes(self):
        return [(*mode[1:3], 32, mode[3]) for mode in self.outputs()["Virtual-0"]["modes"]]


CASES = [
    # KWin fits the device's picture into a replica's own mode, which it keeps though it lacks the size (one that
    # has it is kept too: PlanKdeChange's rows).
    Case("a replica keeps its own mode", SEVEN, arrangement="replica", mode_after="800x600@60"),
    Case("a fractional scale: the neighbour kept at the edge as KWin rounds it", SEVEN, mode="1024x768@60",
         arrangement="scale 1.2", mode_after="800x600@60"),
]
