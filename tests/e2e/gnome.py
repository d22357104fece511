# The Linux program on GNOME: Mutter on a session bus of its own, read and set
# through its DisplayConfig service with busctl. The variant says which Mutter:
# - "" (Debian 12's, 43) and "trixie" (Debian 13's, 48 in its chroot, the last
#   with a nested mode): nested on a private Xorg dummy display, with three
#   dummy monitors LVDS1-3. Fractional scaling is on (so the layout mode can
#   be changed), and LVDS1's preferred scale is 2 for every mode.
# - "sid" (51 in its chroot): headless, with three virtual monitors Meta-0-2
#   of one mode each, in the logical layout mode: the device lists one mode,
#   so a change to any other is refused before anything is sent (run.py,
#   `only_mode`), and one to it needs no change.

import json
import os
import re
import signal
import subprocess
import threading

import chroot
import x11
from cases import Case, NUMERIC

# Mutter lists no mode under 800x480, and lists a size's rates in the reverse
# of this order: 1024x768 at 75 Hz comes first.
SPECS = "1280x1024@75:1024x768@60:1024x768@75:800x600@60:2560x1600@60:1920x1200@60"
HEADLESS = "--headless --virtual-monitor 1024x768@60 --virtual-monitor 1024x768@60 --virtual-monitor 1280x1024@75"
SERVICE = "org.gnome.Mutter.DisplayConfig"
# The bus, then Mutter once the bus listens, which it says by writing its
# address (a Mutter that finds no bus runs without its service).
SESSION = ('dbus-daemon --session --nofork --address="$DBUS_SESSION_BUS_ADDRESS" --print-address=3 3>"$HOME/bus.on" '
           '2>/dev/null & until [ -s "$HOME/bus.on" ]; do sleep 0.05; done; exec mutter "$@"')


def start(suite, work, how, env, log=subprocess.DEVNULL, net=True):
    # Starts Mutter (`how`: how it shows its monitors) in `suite`'s chroot on
    # the bus at `work`/bus, its own, and returns once its service answers.
    command = ["sh", "-c", SESSION, "sh", *how.split(), "--wayland", "--no-x11", "--wayland-display", "vistrel-e2e"]
    bus = "unix:path=%s/bus" % work
    ready = lambda: not subprocess.run(["busctl", "--address=" + bus, "status", SERVICE],  # noqa: E731
                                       capture_output=True).returncode
    return chroot.start(suite, work, command, dict(env, DBUS_SESSION_BUS_ADDRESS=bus), ready, log, net=net)


class Driver(x11.Driver):
    # The arrangements that rows name (arrangements.json), each as the layout
    # it shows for a mode of the device ({m}@{r}; its size {w}x{h}), or one such
    # layout per size: "physical" where the layout mode is (else it is
    # logical, the session's default), then each logical monitor: its place,
    # scale (x), rotation (r), whether primary (P), and its monitors by their
    # connectors with their modes; "lease CONNECTOR": a monitor set aside for
    # lease (Mutter 48 and later).

    def __enter__(self):
        # The variant is the chroot Mutter runs in ("": the host's), and sid's runs headless.
        headless = self.variant == "sid"
        self.only_mode = "1024x768@60" if headless else None
        self.arrangements = x11.ARRANGEMENTS["gnome:sid" if headless else "gnome"]
        self.env.update(WAYLAND_DISPLAY="vistrel-e2e", DBUS_SESSION_BUS_ADDRESS="unix:path=%s/bus" % self.work)
        env = dict(GSETTINGS_BACKEND="keyfile", XDG_CONFIG_HOME=self.work + "/mutter",
                   MUTTER_DEBUG_DUMMY_MODE_SPECS=SPECS, MUTTER_DEBUG_NUM_DUMMY_MONITORS="3",
                   MUTTER_DEBUG_DUMMY_MONITOR_SCALES="2,1,1")
        # Mutter's own config folder, where a persistent change would write monitors.xml.
        os.makedirs(self.work + "/mutter/glib-2.0/settings")
        open(self.work + "/mutter/glib-2.0/settings/keyfile", "w").write(
            "[org/gnome/mutter]\nexperimental-features=['scale-monitor-framebuffer']\n")
        self.server, env["DISPLAY"] = (None, "") if headless else x11.start_xserver(self.env)
        # A nested one runs in the host's network, for the X socket.
        with open(self.work + "/mutter.log", "w") as log:
            self.service = start(self.variant, self.work, HEADLESS if headless else "--nested", env, log,
                                 net=not self.server)
        return self

    def __exit__(self, *exception):
        # Before its X server: a nested Mutter that loses its display spins.
        chroot.stop(self.service)
        self.server and super().__exit__()

    def call(self, method, *args):
        text = self.output("busctl", "--user", "--json=short", "call", SERVICE, "/org/gnome/Mutter/DisplayConfig",
                           SERVICE, method, *map(str, args))
        return json.loads(text)["data"] if text else None

    def set_mode(self, width, height, rate):
        logicals = self.layout(width, height, rate).split(" | ")
        physical = logicals[0] == "physical"
        leased = [logical.split()[1] for logical in logicals if logical.startswith("lease")]
        logicals = logicals[physical:len(logicals) - len(leased)]
        args = [len(logicals)]
        for logical in logicals:
            place, *flags, shown = logical.split()
            flag = {f[0]: f[1:] for f in flags}
            args += [*place.split(","), flag.get("x", 1), flag.get("r", 0), int("P" in flag), shown.count("+") + 1]
            for monitor in shown.split("+"):
                connector, w, h, hz = re.split("[:x@]", monitor)
                args += [connector, "%sx%s@%.3f" % (w, h, float(hz)), 0]
        serial, monitors, *_ = self.call("GetCurrentState")
        specs = [spec for spec, *_ in monitors if spec[0] in leased]
        args += [1 + bool(leased), "layout-mode", "u", 1 + physical]
        args += ["monitors-for-lease", "a(ssss)", len(specs), *sum(specs, [])] if leased else []
        self.call("ApplyMonitorsConfig", "uua(iiduba(ssa{sv}))a{sv}", serial, 1, *args)

    def shown(self):
        # The primary's first monitor's mode, and the layout as the
        # arrangements write it.
        _, monitors, logicals, properties = self.call("GetCurrentState")
        modes = {m[0]: mode[1:4] for m, modes, _ in monitors for mode in modes if "is-current" in mode[6]}
        shown = ["physical"] * (properties["layout-mode"]["data"] == 2)
        for x, y, scale, turn, primary, connectors, _ in logicals:
            shown.append("%d,%d" % (x, y) + " x%g" % round(scale, 3) * (scale != 1) + " r%d" % turn * (turn > 0)
                         + " P" * primary + " " + "+".join("%s:%dx%d@%g" % (c, *modes[c]) for c, *_ in connectors))
        shown += ["lease " + m[0] for m, _, has in monitors if has.get("is-for-lease", {}).get("data")]
        return next(modes[connectors[0][0]] for *_, primary, connectors, _ in logicals if primary), shown

    def modes(self):
        # The device's modes in the service's order, as (width, height, 32, Hz).
        return [(w, h, 32, hz) for _, w, h, hz, *_ in self.call("GetCurrentState")[1][0][1]]

    def meanwhile(self):
        # Mutter stops before the program sends its change, and goes on once
        # the program, past the change's bound, reads the state again (or the
        # run ended): an apply that takes longer than the bound.
        rule = "type='method_call',interface='%s'" % SERVICE
        self.watch = subprocess.Popen(["dbus-monitor", "--address", self.env["DBUS_SESSION_BUS_ADDRESS"], rule],
                                      stdout=subprocess.PIPE, text=True)
        next(line for line in self.watch.stdout if "member=NameLost" in line)  # it watches from now on

        def go_on():
            for member in ("ApplyMonitorsConfig", "GetCurrentState"):
                next((line for line in self.watch.stdout if "member=" + member in line), None)
            os.kill(self.service.pid, signal.SIGCONT)
        return lambda: (os.kill(self.service.pid, signal.SIGSTOP), threading.Thread(target=go_on).start()), self.env

    def run(self, args, env):
        self.watch = None
        try:
            return super().run(args, env)
        finally:
            if self.watch:
                self.watch.kill()
                os.kill(self.service.pid, signal.SIGCONT)


CASES = [
    # A default scale follows the mode (2 at 2560x1600, 1 at 1024x768, which lacks 2), the layout mode kept.
    Case("a default scale follows the mode", NUMERIC, mode="2560x1600@60", arrangement="scale 2",
         mode_after="1024x768@60"),
    # A chosen scale stays as the new mode lists it: 1.5 is 1.497 at 1280x1024.
    Case("a chosen fractional scale stays", "-1024 -1280 -32 -75 -1".split(), mode="1920x1200@60",
         arrangement="fractional", mode_after="1280x1024@75"),
    # Mutter 48 and later lease no monitor that a change does not name again.
    Case("a monitor set aside for lease stays so", NUMERIC, arrangement="one for lease", mode_after="1024x768@60",
         on={"gnome": None, "gnome:trixie": {}}),
    # Mutter takes the change in turn, but answers it after the bound.
    Case("an apply that outlasts the bound and succeeds is no refusal", NUMERIC, saved="pipe",
         mode_after="1024x768@60", on={"gnome:sid": None}),
]
