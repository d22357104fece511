# The Linux program on KDE Plasma: KWin's virtual backend with two outputs, in
# a session bus of its own, read and set with kscreen-doctor. VARIANT names
# the KWin: "" Debian 12's (5.27), "trixie" (6.3) or "sid" (6.7); those two
# run in their chroots (chroot.py), the program outside on the socket's path.
# Before 6.7 each output lists one mode, the one in force (1024x768 at 60 Hz),
# so a change to any other is refused before anything is sent (run.py,
# `only_mode`). KWin 6.7 starts with the custom modes that rows use (seeded in
# its kwinoutputconfig.json) and announces Virtual-1 before Virtual-0, which
# is first in Plasma's order: the device.

import json
import os
import shutil
import subprocess

import chroot
import x11
from cases import OLD, Case

SOCKET = "vistrel-e2e"
ARGS = ["--virtual", "--output-count", "2", "--width", "1024", "--height", "768", "--socket", SOCKET,
        "--no-lockscreen", "--no-global-shortcuts"]
# The modes that rows use, asked in mHz so that KWin's rates (by CVT) come within 0.15 Hz of them.
CUSTOM = [(1280, 1024, 75100), (1024, 768, 75000), (800, 600, 60000), (800, 600, 56250), (640, 480, 60250)]


class Driver(x11.Driver):
    arrangements = [""]  # its own outputs only
    rate_tolerance = 0.15  # CVT's rates: 74.90 Hz for 75

    def __init__(self, program, work, variant=""):
        super().__init__(program, work, variant)
        self.root = chroot.root(variant) if variant else ""
        self.only_mode = None if variant == "sid" else "1024x768@60"

    def __enter__(self):
        run = os.path.join(self.work, "run")
        os.mkdir(run, 0o700)
        bus = "unix:path=%s/bus" % run
        self.inner = dict(HOME=run, XDG_RUNTIME_DIR=run, XDG_CONFIG_HOME=run, DBUS_SESSION_BUS_ADDRESS=bus,
                          WAYLAND_DISPLAY=SOCKET, QT_QPA_PLATFORM="wayland", KSCREEN_BACKEND_INPROCESS="1")
        self.env.update(WAYLAND_DISPLAY=os.path.join(run, SOCKET), DBUS_SESSION_BUS_ADDRESS=bus)
        modes = [dict(width=w, height=h, refreshRate=r, flags=8) for w, h, r in CUSTOM * (self.variant == "sid")]
        with open(run + "/kwinoutputconfig.json", "w") as f:
            json.dump([{"name": "outputs", "data": [dict(connectorName="Virtual-0", customModes=modes)]},
                       {"name": "setups", "data": [{"outputs": [dict(outputIndex=0, enabled=True, priority=1)]}]}], f)
        # A copy named kwin_wayland: the installed one carries a file capability that root here cannot be given.
        kwin = shutil.copy(self.root + "/usr/bin/kwin_wayland", run)
        self.bus = self.start(["dbus-daemon", "--session", "--nofork", "--address=" + bus], run + "/bus")
        self.kwin = self.start([kwin, *ARGS, *["--no-kactivities"] * (not self.variant)], run + "/" + SOCKET)
        return self

    def start(self, command, ready):
        if self.variant:
            return chroot.start(self.variant, self.work, command, self.inner, lambda: os.path.exists(ready))
        return x11.start(command, dict(os.environ, **self.inner), lambda: os.path.exists(ready))

    def __exit__(self, *exception):
        for process in (self.kwin, self.bus):
            chroot.stop(process) if self.variant else x11.stop(process)

    def doctor(self, *args):
        if self.variant:
            return chroot.run(self.variant, self.work, ["kscreen-doctor", *args], self.inner)
        return subprocess.run(["kscreen-doctor", *args], env=dict(os.environ, **self.inner), check=True,
                              capture_output=True, text=True, timeout=60).stdout

    def outputs(self):
        # Each output's modes in KWin's order (kscreen numbers them so), its mode in force and its place.
        outputs = {output["name"]: output for output in json.loads(self.doctor("-j"))["outputs"]}
        for output in outputs.values():
            output["modes"].sort(key=lambda m: int(m["id"]))
            current = next(m for m in output["modes"] if m["id"] == output["currentModeId"])
            output["shown"] = (current["size"]["width"], current["size"]["height"], current["refreshRate"],
                               output["pos"]["x"], output["pos"]["y"])
        return outputs

    def set_mode(self, width, height, rate):
        # Virtual-0 at 0,0 in the mode nearest this one, Virtual-1 beside it.
        modes = [m for m in self.outputs()["Virtual-0"]["modes"] if (m["size"]["width"], m["size"]["height"]) ==
                 (width, height)]
        mode = min(modes, key=lambda m: abs(m["refreshRate"] - rate))
        self.doctor("output.Virtual-0.mode." + mode["id"], "output.Virtual-0.position.0,0",
                    "output.Virtual-1.position.%d,0" % width)

    def mode(self):
        # Virtual-0's (width, height, Hz); wrong unless it is at 0,0 and
        # Virtual-1 keeps its mode beside it, as the layout rule puts it.
        outputs = self.outputs()
        (width, height, rate, x, y), other = outputs["Virtual-0"]["shown"], outputs["Virtual-1"]["shown"]
        if (x, y) != (0, 0) or other != (1024, 768, 60, width, 0):
            return "%dx%d at %d,%d" % (width, height, x, y), "beside Virtual-1 at %r" % (other,), rate
        return width, height, rate

    def modes(self):
        return [(m["size"]["width"], m["size"]["height"], 32, int(m["refreshRate"] + 0.5))
                for m in self.outputs()["Virtual-0"]["modes"]]

    def run_while_the_server_goes(self, args):
        # Another client removes the mode asked for (800x600 at 60 Hz, the third custom mode) while the program waits.
        return self.run_holding_the_store(args, self.env, lambda: self.doctor("output.Virtual-0.removeCustomMode.2"))


CASES = [  # the last rows: they remove a mode
    Case("a mode removed meanwhile: KWin's refusal and its reason", ["-600", "-800", "-32", "-60", "-1"], saved="pipe",
         status=3, saved_after=OLD, on={"kwin": None, "kwin:sid": {}},
         message=("Vistrel", "kde_output_configuration_v2: KWin refused 800x600 at 59861 mHz on Virtual-0: "
                             "One of the relevant outputs is no longer available")),
]
