# A Wayland session with no service vistrel knows (Weston, headless), and
# DISPLAY at a working X server that vistrel must not fall back to. The
# variant `xwayland` drops WAYLAND_DISPLAY, as sudo, cron and ssh often do,
# and leaves DISPLAY at Weston's XWayland, which vistrel must not change.

import os
import re

import chroot
import x11


class Driver(x11.Driver):
    no_service = True
    # Its own outputs only.
    arrangements = [""]
    no_service_message = (r"this Wayland session offers no display configuration service that vistrel can use "
                          r'\(looked for kde_output_management_v2 and zwlr_output_manager_v1 on the Wayland display '
                          r'"vistrel-e2e", and for org\.gnome\.Mutter\.DisplayConfig on the session bus.*\)')
    # No service, no list: any output.txt differs from none.
    modes = list

    def __enter__(self):
        super().__enter__()
        self.env.update(XDG_RUNTIME_DIR=self.work, WAYLAND_DISPLAY="vistrel-e2e")
        self.env.pop("DBUS_SESSION_BUS_ADDRESS", None)  # nor a session bus
        log, xwayland = self.work + "/weston.log", ["--xwayland"] * (self.variant == "xwayland")
        open(log, "w").close()
        self.weston = chroot.start("", self.work, ["weston", "--backend=headless-backend.so", "--socket=vistrel-e2e",
                                                   "--log=" + log, *xwayland], self.env,
                                   lambda: "listening on display" in open(log).read() if xwayland
                                   else chroot.wayland_answers(self.work + "/vistrel-e2e"))
        if xwayland:
            self.env["DISPLAY"] = re.search(r"listening on display (:\d+)", open(log).read())[1]
            del self.env["WAYLAND_DISPLAY"]
            self.no_service_message = r'display ":\d+" is XWayland\'s, .* WAYLAND_DISPLAY .*'
        return self

    def __exit__(self, *exception):
        chroot.stop(self.weston)
        super().__exit__(*exception)
