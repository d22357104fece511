# A Wayland session with no service vistrel knows (Weston, headless), and
# DISPLAY at a working X server that vistrel must not fall back to. The
# variant `xwayland[-SUITE]` drops WAYLAND_DISPLAY, as sudo, cron and ssh often
# do, and leaves DISPLAY at Weston's XWayland, which vistrel must not change:
# Debian 12's names its output XWAYLAND0; today's, in SUITE's chroot
# (chroot.py), names it after Weston's, headless, and marks it as emulated.

import re

import chroot
import x11

# Weston's XWayland's sockets: one in the chroot's own /tmp where there is
# one, the abstract one in the host's network, which the program reaches.
X_SOCKETS = 'mkdir -pm 1777 /tmp/.X11-unix && exec "$@"'


class Driver(x11.Driver):
    no_service = True
    # Its own outputs only.
    arrangements = [""]
    no_service_message = (r"this Wayland session offers no display configuration service that vistrel can use "
                          r'\(looked for .* on the Wayland display "vistrel-e2e", and for .* on the session bus.*\)')
    # No service, no list: any output.txt differs from none.
    modes = list

    def __enter__(self):
        super().__enter__()
        self.env["WAYLAND_DISPLAY"] = "vistrel-e2e"  # and no session bus
        xwayland, _, suite = self.variant.partition("-")
        log, config = self.work + "/weston.log", self.work + "/weston.ini"
        open(config, "w").write("[input-method]\npath=\n")
        command = ["sh", "-c", X_SOCKETS, "sh", "weston", "--socket=vistrel-e2e", "--log=" + log, "-c", config,
                   *["--xwayland"] * bool(xwayland)]
        command += ["--backend=headless", "--shell=kiosk"] if suite else ["--backend=headless-backend.so"]
        listening = lambda: re.search(r"listening on display (:\d+)", open(log).read())  # noqa: E731
        self.weston = chroot.start(suite, self.work, command, {}, listening if xwayland else
                                   lambda: chroot.wayland_answers(self.work + "/vistrel-e2e"), net=not xwayland)
        if xwayland:
            found = listening()
            self.env["DISPLAY"] = found and found[1]
            del self.env["WAYLAND_DISPLAY"]
            self.no_service_message = r'display ":\d+" is XWayland\'s, .* WAYLAND_DISPLAY .*'
            # What the rows stand on: XWayland's output named as that Weston's XWayland names it.
            outputs = re.findall(r"^(\S+) connected", found and self.xrandr() or "", re.M)
            if outputs != ["headless" if suite else "XWAYLAND0"]:
                self.__exit__()
                raise RuntimeError("XWayland's outputs %r; weston's log: %s" % (outputs, open(log).read()[-500:]))
        return self

    def __exit__(self, *exception):
        chroot.stop(self.weston)
        super().__exit__(*exception)
