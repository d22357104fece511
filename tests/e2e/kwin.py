# The Linux program on KDE Plasma: KWin's virtual backend with two outputs,
# in a session bus of its own, read and set with kscreen-doctor. Each output
# lists one mode, the one in force (1024x768 at 60 Hz), so a change to any
# other is refused before anything is sent (run.py, `only_mode`), and a run
# never has a configuration to send: the layout cannot change here.

import json
import os
import shutil
import subprocess

import x11

ARGS = ["--virtual", "--output-count", "2", "--width", "1024", "--height", "768", "--socket", "vistrel-e2e",
        "--no-lockscreen", "--no-global-shortcuts", "--no-kactivities"]


class Driver(x11.Driver):
    only_mode = "1024x768@60"
    arrangements = [""]  # its own outputs only

    def __enter__(self):
        self.bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address"],
                                    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.env.update(HOME=self.work, XDG_RUNTIME_DIR=self.work, WAYLAND_DISPLAY="vistrel-e2e",
                        QT_QPA_PLATFORM="wayland", KSCREEN_BACKEND_INPROCESS="1",
                        DBUS_SESSION_BUS_ADDRESS=self.bus.stdout.readline().strip())
        kwin_env = dict(self.env, XDG_CONFIG_HOME=os.path.join(self.work, "kwin"))
        # A copy named kwin_wayland: /usr/bin's carries a file capability that root here cannot be given.
        kwin = shutil.copy("/usr/bin/kwin_wayland", self.work)
        self.kwin = x11.start([kwin, *ARGS], kwin_env, lambda: os.path.exists(os.path.join(self.work, "vistrel-e2e")))
        return self

    def __exit__(self, *exception):
        x11.stop(self.kwin, self.bus)

    def doctor(self, *args):
        return subprocess.run(["kscreen-doctor", *args], env=self.env, check=True, capture_output=True,
                              text=True, timeout=60).stdout

    def set_mode(self, width, height, rate):
        pass  # the one mode is in force

    def outputs(self):
        return {output["name"]: output for output in json.loads(self.doctor("-j"))["outputs"]}

    def mode(self):
        # Virtual-0's mode as (width, height, Hz).
        ours = self.outputs()["Virtual-0"]
        mode = next(m for m in ours["modes"] if m["id"] == ours["currentModeId"])
        return mode["size"]["width"], mode["size"]["height"], mode["refreshRate"]

    def modes(self):
        return [(m["size"]["width"], m["size"]["height"], 32, int(m["refreshRate"] + 0.5))
                for m in self.outputs()["Virtual-0"]["modes"]]
