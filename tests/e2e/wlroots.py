# The Linux program on the wlroots family, headless with two virtual heads
# (any size is a custom mode): HEADLESS-1 at 1280,0 and HEADLESS-2, the
# device, at 0,0. The variant, COMPOSITOR[-SUITE], names the compositor and
# the chroot (chroot.py) it runs in; "" or "phoc": Debian 12's phoc on the
# host. Read and set with wlr-randr, the chroot's own where there is one.

import os
import re
import subprocess

import chroot
import x11
from cases import NUMERIC, OLD, Case

HEAD = r"^(\S+) .*?^ +(\d+)x(\d+) px(?:, ([\d.]+) Hz)? \(current\).*?Position: (-?\d+),(-?\d+)"
# Each compositor's command line and its configuration file ({} is the test's folder).
COMPOSITORS = {"phoc": ("phoc -C {}/phoc.ini", "phoc.ini", "[core]\nxwayland=false\n"),
               "sway": ("sway -c {}/sway.cfg", "sway.cfg", "xwayland disable\n"),
               "labwc": ("labwc -C {}", "rc.xml", "<labwc_config/>\n"),
               "wayfire": ("wayfire -c {}/wayfire.ini", "wayfire.ini", "[core]\nplugins =\nxwayland = false\n")}
USERS = {"wayfire": 65534}  # it refuses root


class Driver(x11.Driver):
    rate_tolerance = 0.0005  # custom modes are read back exactly, in mHz
    arrangements = [""]  # its own outputs only

    def __enter__(self):
        self.variant = self.variant or "phoc"
        compositor, _, self.suite = self.variant.partition("-")
        command, config, text = COMPOSITORS[compositor]
        with open(os.path.join(self.work, config), "w") as f:
            f.write(text)
        env = dict(PATH=chroot.PATH, HOME=self.work, XDG_RUNTIME_DIR=self.work, WLR_BACKENDS="headless",
                   WLR_RENDERER="pixman", WLR_LIBINPUT_NO_DEVICES="1", WLR_HEADLESS_OUTPUTS="2")
        user = USERS.get(compositor)
        if user:  # the test's folder is its runtime folder
            os.chown(self.work, user, user)
        command, ready = command.format(self.work).split(), lambda: self.socket() is not None
        if self.suite:
            self.compositor = chroot.start(self.suite, self.work, command, env, ready, user=user)
        else:
            self.compositor = x11.start(command, env, ready)
        self.env.update(WAYLAND_DISPLAY=os.path.join(self.work, self.socket() or "none"), XDG_RUNTIME_DIR=self.work)
        self.env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        self.beside = self.heads()["HEADLESS-1"][:3]  # its mode as the compositor made it
        return self

    def __exit__(self, *exception):
        (chroot.stop if self.suite else x11.stop)(self.compositor)

    def socket(self):
        return next((name for name in os.listdir(self.work) if re.fullmatch(r"wayland-\d+", name)), None)

    def randr(self, *args):
        if self.suite:
            return chroot.run(self.suite, self.work, ["wlr-randr", *args],
                              {k: self.env[k] for k in ("WAYLAND_DISPLAY", "XDG_RUNTIME_DIR")})
        return subprocess.run(["wlr-randr", *args], env=self.env, check=True, capture_output=True, text=True,
                              timeout=60).stdout

    def heads(self):
        # Each head's (width, height, Hz, x, y); Hz 0 where the mode has no rate.
        return {name: tuple(float(v or 0) for v in rest) for name, *rest in re.findall(HEAD, self.randr(), re.M | re.S)}

    def set_mode(self, width, height, rate):
        self.randr("--output", "HEADLESS-2", "--custom-mode", "%dx%d@%gHz" % (width, height, rate), "--pos", "0,0",
                   "--output", "HEADLESS-1", "--pos", "%d,0" % width)

    def mode(self):
        # HEADLESS-2's (width, height, Hz); wrong unless it is at 0,0 and
        # HEADLESS-1 keeps its mode beside it, as the layout rule puts it.
        heads = self.heads()
        (width, height, rate, x, y), other = heads["HEADLESS-2"], heads["HEADLESS-1"]
        if (x, y) != (0, 0) or other != (*self.beside, width, 0):
            return "%dx%d at %d,%d" % (width, height, x, y), "beside HEADLESS-1 at %r" % (other,), rate
        return int(width), int(height), rate

    def modes(self):  # a virtual head lists only its mode in force
        width, height, rate = self.mode()
        return [(width, height, 32, int(rate + 0.5))]

    def run_while_the_server_goes(self, args):
        # Another client changes the device's rate while the program waits.
        return self.run_holding_the_store(args, self.env, lambda: self.set_mode(1280, 1024, 60))


CASES = [
    Case("a virtual head: a size that cannot be a mode is not sent", ["-restore"], saved=("-5", "480", "32", "60"),
         status=3),
    Case("a change based on outputs changed meanwhile is cancelled", NUMERIC, saved="pipe", status=3,
         mode_after="1280x1024@60", saved_after=OLD,
         message=("Vistrel", "the compositor cancelled the change of HEADLESS-2 to 1024x768 at 60 Hz: its .*")),
]
