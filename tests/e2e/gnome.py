# The Linux program on GNOME: Mutter nested on a private Xorg dummy display
# with two dummy monitors side by side, in a session bus of its own; read and
# set through Mutter's DisplayConfig service with busctl.

import json
import subprocess

import x11

# Mutter lists no mode under 800x480, and lists a size's rates in the reverse
# of this order: 1024x768 at 75 Hz comes first.
SPECS = "1280x1024@75:1024x768@60:1024x768@75:800x600@59.94:800x600@60:800x600@56.25"
# Mutter ends before its X server does: a nested Mutter that loses its display spins.
SESSION = ("mutter --nested --wayland --no-x11 --wayland-display=vistrel-e2e >\"$XDG_RUNTIME_DIR/mutter.log\" 2>&1 & "
           "timeout 60 sh -c 'until busctl --user status org.gnome.Mutter.DisplayConfig; do sleep 0.1; done' "
           '>/dev/null 2>&1; echo "$DBUS_SESSION_BUS_ADDRESS"; read line; kill $!; wait $!')


class Driver(x11.Driver):
    def __enter__(self):
        self.env.update(XDG_RUNTIME_DIR=self.work, WAYLAND_DISPLAY="vistrel-e2e", MUTTER_DEBUG_DUMMY_MODE_SPECS=SPECS,
                        MUTTER_DEBUG_NUM_DUMMY_MONITORS="2")
        self.server, self.env["DBUS_SESSION_BUS_ADDRESS"] = x11.start_xserver(
            self.env, ["dbus-run-session", "--", "sh", "-c", SESSION])
        return self

    def call(self, method, *args):
        text = subprocess.run(["busctl", "--user", "--json=short", "call", "org.gnome.Mutter.DisplayConfig",
                               "/org/gnome/Mutter/DisplayConfig", "org.gnome.Mutter.DisplayConfig", method,
                               *map(str, args)], env=self.env, check=True, capture_output=True, text=True).stdout
        return json.loads(text)["data"] if text else None

    def set_mode(self, width, height, rate):
        serial, monitors, _, _ = self.call("GetCurrentState")
        mode = next(m[0] for m in monitors[0][1] if m[1:3] == [width, height] and abs(m[3] - rate) < 0.05)
        self.call("ApplyMonitorsConfig", "uua(iiduba(ssa{sv}))a{sv}", serial, 1, 2, 0, 0, 1, 0, "true", 1, "LVDS1",
                  mode, 0, width, 0, 1, 0, "false", 1, "LVDS2", "1280x1024@75.000", 0, 0)

    def mode(self):
        # LVDS1's mode as (width, height, Hz); its size shows as wrong unless
        # LVDS2 keeps 1280x1024 at 75 Hz right beside it.
        _, monitors, logical, _ = self.call("GetCurrentState")
        ours, other = [next(m[1:4] for m in modes if "is-current" in m[6]) for _, modes, _ in monitors]
        layout = [(x, y) for x, y, *_ in logical]
        if other != [1280, 1024, 75.0] or layout != [(0, 0), (ours[0], 0)]:
            return "%dx%d" % tuple(ours[:2]), "beside LVDS2 at %r showing %r" % (layout, other), ours[2]
        return tuple(ours)

    def modes(self):
        # LVDS1's modes in the service's order, as (width, height, 32, whole Hz).
        return [(w, h, 32, int(hz + 0.5)) for _, w, h, hz, *_ in self.call("GetCurrentState")[1][0][1]]

