# The Linux program on the wlroots family, headless with two virtual heads
# (any size is a custom mode): HEADLESS-1 at 1280,0 and HEADLESS-2, the
# device, at 0,0. The variant, COMPOSITOR[-SUITE], names the compositor and
# the chroot (chroot.py) it runs in; "" or "phoc": Debian 12's phoc on the
# host, with GNOME's service on the session bus too (a headless Mutter), as
# niri offers a copy of it there: the compositor's own must be the one used.
# Read and set with wlr-randr, the chroot's own where there is one.

import glob
import os
import re
import subprocess

import chroot
import gnome
import x11
from cases import NUMERIC, OLD, Case

HEAD = r"^(\S+) .*?^ +(\d+)x(\d+) px(?:, ([\d.]+) Hz)? \(current\).*?Position: (-?\d+),(-?\d+)"
# Each compositor's configuration file; phoc's (an ini file) also serves Wayfire.
CONFIGS = {"phoc": "[core]\nplugins =\nxwayland = false\n", "sway": "xwayland disable\n", "labwc": ""}
GNOME = gnome.SESSION.replace("--nested", "--headless --virtual-monitor 800x600")  # a bus with GNOME's service


class Driver(x11.Driver):
    rate_tolerance = 0.0005  # custom modes are read back exactly, in mHz
    arrangements = [""]  # its own outputs only
    bus = None

    def __enter__(self):
        self.variant = self.variant or "phoc"
        compositor, _, self.suite = self.variant.partition("-")
        config = os.path.join(self.work, "compositor.conf")
        with open(config, "w") as f:
            f.write(CONFIGS.get(compositor, CONFIGS["phoc"]))
        user = 65534 if compositor == "wayfire" else None  # it refuses root: the test's folder is its own
        if user:
            os.chown(self.work, user, user)
        env = dict(HOME=self.work, XDG_RUNTIME_DIR=self.work, WLR_BACKENDS="headless", WLR_RENDERER="pixman",
                   WLR_LIBINPUT_NO_DEVICES="1", WLR_HEADLESS_OUTPUTS="2")
        self.compositor = chroot.start(self.suite, self.work, [compositor, "-C" if compositor == "phoc" else "-c",
                                                               config], env, self.socket, user=user)
        self.env.update(WAYLAND_DISPLAY=(self.socket() + ["none"])[0], XDG_RUNTIME_DIR=self.work)
        self.env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        if not self.suite:
            self.bus = subprocess.Popen(["dbus-run-session", "--", "sh", "-c", GNOME], env=self.env,
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
            self.env["DBUS_SESSION_BUS_ADDRESS"] = self.bus.stdout.readline().strip()
        try:
            self.beside = self.heads()["HEADLESS-1"][:3]  # its mode as the compositor made it
        except BaseException:
            self.__exit__()
            raise
        return self

    def __exit__(self, *exception):
        chroot.stop(self.compositor)
        self.bus and x11.stop_xserver(self.bus)

    def socket(self):  # its socket's path, once it listens
        return glob.glob(self.work + "/wayland-[0-9]")

    def heads(self, *args):
        # Each head's (width, height, Hz, x, y), Hz 0 where the mode has no rate, after wlr-randr `args`.
        text = chroot.run(self.suite, self.work, ["wlr-randr", *args],
                          {k: self.env[k] for k in ("WAYLAND_DISPLAY", "XDG_RUNTIME_DIR")})
        return {name: tuple(float(v or 0) for v in rest) for name, *rest in re.findall(HEAD, text, re.M | re.S)}

    def set_mode(self, width, height, rate):
        self.heads("--output", "HEADLESS-2", "--custom-mode", "%dx%d@%gHz" % (width, height, rate), "--pos", "0,0",
                   "--output", "HEADLESS-1", "--pos", "%d,0" % width)

    def mode(self):
        # HEADLESS-2's (width, height, Hz); the heads instead unless it is at
        # 0,0 and HEADLESS-1 keeps its mode beside it, as the layout rule puts it.
        heads = self.heads()
        width, height, rate = heads["HEADLESS-2"][:3]
        if heads != {"HEADLESS-2": (width, height, rate, 0, 0), "HEADLESS-1": (*self.beside, width, 0)}:
            return heads, "not as the layout rule puts them", rate
        return int(width), int(height), rate

    def modes(self):  # a virtual head lists only its mode in force
        width, height, rate = self.mode()
        return [(width, height, 32, int(rate + 0.5))]

    def run_while_the_server_goes(self, args):
        # Another client changes the device's rate while the program waits.
        return self.run_holding_the_store(args, self.env, lambda: self.set_mode(1280, 1024, 60))


CASES = [
    Case("a change based on outputs changed meanwhile is cancelled", NUMERIC, saved="pipe", status=3,
         mode_after="1280x1024@60", saved_after=OLD,
         message=("Vistrel", "the compositor cancelled the change of HEADLESS-2 to 1024x768 at 60 Hz: its .*")),
]
