# The Linux program on the wlroots family, headless with two virtual heads
# (any size is a custom mode): HEADLESS-2, the device, at 0,0 and HEADLESS-1
# as the row's arrangement puts it. The variant, COMPOSITOR[-SUITE], names the
# compositor and the chroot (chroot.py) it runs in; "" or "phoc": Debian 12's
# phoc on the host, with GNOME's service on the session bus too (a headless
# Mutter), as niri offers a copy of it there: the compositor's own must be the
# one used. Read and set with wlr-randr, the chroot's own where there is one.

import glob
import os
import re

import chroot
import gnome
import x11
from cases import NUMERIC, Case

HEAD = (r"^(\S+) .*?^ +(\d+)x(\d+) px(?:, ([\d.]+) Hz)? \(current\).*?Position: (-?\d+),(-?\d+)"
        r"\s+Transform: (\S+)\s+Scale: ([\d.]+)")
# Each compositor's configuration file; phoc's (an ini file) also serves Wayfire.
CONFIGS = {"phoc": "[core]\nplugins =\nxwayland = false\n", "sway": "xwayland disable\n", "labwc": ""}


class Driver(x11.Driver):
    # Custom modes are read back exactly, in mHz.
    rate_tolerance = 0.0005
    # Each head as "NAME SIZE X,Y [tTRANSFORM] [xSCALE]", the device's SIZE {m}.
    arrangements = x11.ARRANGEMENTS["wlroots"]
    bus = None

    def __enter__(self):
        self.variant = self.variant or "phoc"
        compositor, _, self.suite = self.variant.partition("-")
        config = self.work + "/compositor.conf"
        open(config, "w").write(CONFIGS.get(compositor, CONFIGS["phoc"]))
        # Wayfire refuses root: the test's folder is its own.
        user = 65534 if compositor == "wayfire" else None
        if user:
            os.chown(self.work, user, user)
        env = dict(WLR_BACKENDS="headless", WLR_RENDERER="pixman", WLR_LIBINPUT_NO_DEVICES="1",
                   WLR_HEADLESS_OUTPUTS="2")
        # Ready once it answers on its socket: only once its heads are made, as each compositor here enters its
        # loop after.
        sockets = self.work + "/wayland-[0-9]"
        self.service = chroot.start(self.suite, self.work, [compositor, "-C" if compositor == "phoc" else "-c", config],
                                    env, lambda: chroot.wayland_answers(sockets), user=user)
        self.env["WAYLAND_DISPLAY"] = (glob.glob(sockets) + ["none"])[0]
        if not self.suite:
            self.env["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=%s/bus" % self.work
            self.bus = gnome.start("", self.work, "--headless --virtual-monitor 800x600", {})
        # labwc moves a head put on another aside: no clones; 1.2 is 1.19921875 there.
        if compositor == "labwc":
            self.arrangements = {k: v for k, v in self.arrangements.items() if k in ("", "scale 1.75")}
        return self

    def __exit__(self, *exception):
        chroot.stop(self.service)
        self.bus and chroot.stop(self.bus)

    def wlr_randr(self, *args):
        return chroot.run(self.suite, self.work, ["wlr-randr", *args], {"WAYLAND_DISPLAY": self.env["WAYLAND_DISPLAY"]})

    def set_mode(self, width, height, rate):
        args, device = [], "%dx%d" % (width, height)
        for name, size, place, *how in (head.split() for head in self.layout(width, height, rate).split(" | ")):
            how = {"t": "normal", "x": "1", **{h[0]: h[1:] for h in how}}
            # A clone at the device's rate too.
            args += ["--output", name, "--custom-mode", size + "@%gHz" % rate * (size == device), "--pos", place,
                     "--transform", how["t"], "--scale", how["x"]]
        self.wlr_randr(*args)

    def shown(self):
        # HEADLESS-2's mode (a rate of 0: none), and each head as the arrangements write it.
        heads = re.findall(HEAD, self.wlr_randr(), re.M | re.S)
        device = next((int(w), int(h), float(hz or 0)) for name, w, h, hz, *_ in heads if name == "HEADLESS-2")
        return device, ["%s %sx%s %s,%s" % (name, w, h, x, y) + (" t" + turn) * (turn != "normal")
                        + " x%g" % round(float(scale), 2) * (float(scale) != 1)
                        for name, w, h, _, x, y, turn, scale in heads]

    # A virtual head lists only its mode in force.
    def modes(self):
        width, height, rate = self.shown()[0]
        return [(width, height, 32, rate)]


CASES = [
    # A neighbour where no compositor's scaled size overlaps it: 1024 pixels at 1.2, 1.19921875 in the
    # protocol, are 853 units where truncated (wlroots), 854 where rounded (COSMIC): one unit apart here.
    Case("a neighbour beside a device at scale 1.2", NUMERIC, mode="1280x720@60", arrangement="scale 1.2",
         mode_after="1024x768@60"),
    Case("a neighbour beside a device at scale 1.75", "-1080 -1920 -32 -60 -1".split(),
         mode="2560x1440@60", arrangement="scale 1.75", mode_after="1920x1080@60"),
]
