# A Wayland session with no service vistrel knows (Weston, headless), and
# DISPLAY at a working X server that vistrel must not fall back to.

import os

import x11


class Driver(x11.Driver):
    no_service = True
    arrangements = [""]  # its own outputs only
    no_service_message = ("Vistrel", r"this Wayland session offers no display configuration service that vistrel "
                                     r"can use \(looked for org\.gnome\.Mutter\.DisplayConfig on the session bus.*, "
                                     r'kde_output_management_v2 and zwlr_output_manager_v1 on the Wayland display '
                                     r'"vistrel-e2e"\)')
    modes = list  # no service, no list: any output.txt differs from none

    def __enter__(self):
        super().__enter__()
        self.env.update(XDG_RUNTIME_DIR=self.work, WAYLAND_DISPLAY="vistrel-e2e")
        self.env.pop("DBUS_SESSION_BUS_ADDRESS", None)  # nor a session bus
        self.weston = x11.start(["weston", "--backend=headless-backend.so", "--socket=vistrel-e2e"], self.env,
                                lambda: os.path.exists(os.path.join(self.work, "vistrel-e2e")))
        return self

    def __exit__(self, *exception):
        x11.stop(self.weston)
        super().__exit__(*exception)
