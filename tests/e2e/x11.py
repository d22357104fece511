# The Linux program on X11: a private Xorg dummy display (tools/xserver), read
# and set with xrandr. The program runs as a copy in a program folder of its
# own, from another folder, with its settings file in a private
# XDG_CONFIG_HOME, and what it writes on standard error is the message the
# user saw.

import fcntl
import json
import os
import re
import shutil
import signal
import subprocess

import chroot
from cases import Case, NUMERIC, OLD

HERE = os.path.dirname(os.path.abspath(__file__))
WITH_XSERVER = HERE + "/../../tools/xserver/with-xserver"
KEYS = ("OldWidth", "OldHeight", "OldBPP", "OldRefresh")
# The arrangements of monitors that rows name, for each driver that can set them.
with open(HERE + "/arrangements.json") as arrangements:
    ARRANGEMENTS = json.load(arrangements)


def start_xserver(env, command=("sh", "-c", 'echo "$DISPLAY"; read line')):
    # with-xserver keeps its server until `command` ends, which it does once
    # its standard input closes; returns it and the first line it writes.
    server = subprocess.Popen([WITH_XSERVER, *command], env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                              text=True)
    return server, server.stdout.readline().strip()


def store(saved):
    # The settings file that holds these saved entries (None: absent).
    return "[Restore]\n" + "".join("%s=%s\n" % kv for kv in zip(KEYS, saved) if kv[1] is not None)


def stop_xserver(server):
    server.stdin.close()
    server.wait(timeout=60)


class Driver:
    # In Hz: 59.94 and 60.00 differ, 75.02 is 75.
    rate_tolerance = 0.05
    no_service = False
    # The one mode the device lists, where it lists one.
    only_mode = None
    # The arrangements as the outputs' "NAME SIZE X,Y", the device's {m} (its
    # size {w}x{h}). DUMMY0, the primary, is the device; DUMMY1 and DUMMY2 are
    # outputs added beside it.
    arrangements = ARRANGEMENTS["x11"]
    # The service's process, stopped for a "frozen" row's run: the program must end at its bound, well within
    # a run's 20 s (a bound removed, GNOME's call waits sd-bus's 25 s; Wayland's, forever). A run that is not
    # stopped takes a second or two.
    service = None

    def __init__(self, program, work, variant=""):
        self.variant = variant
        self.work, self.program_dir = work, work + "/program"
        os.mkdir(self.program_dir)
        self.command, self.cwd = [shutil.copy(program, self.program_dir)], work
        self.folder = work + "/config/Quendrel"
        self.settings = self.folder + "/settings.ini"
        self.env = dict(os.environ, XDG_CONFIG_HOME=work + "/config", XDG_RUNTIME_DIR=work)
        self.env.pop("DBUS_SESSION_BUS_ADDRESS", None)  # no session bus but a driver's own

    def __enter__(self):
        self.server, self.env["DISPLAY"] = start_xserver(self.env)
        self.xrandr(*(a for o in ("DUMMY1", "DUMMY2") for m in ("1280x1024", "1024x768") for a in ("--addmode", o, m)))
        return self

    def __exit__(self, *exception):
        stop_xserver(self.server)

    def run(self, args, env):
        if self.held in ("pipe", "locked"):
            return self.run_held(args, *(self.pipe() if self.held == "pipe" else self.lock()))
        frozen = self.held == "frozen"
        frozen and os.kill(self.service.pid, signal.SIGSTOP)
        try:
            result = subprocess.run([*self.command, *args], env=dict(self.env, **env), cwd=self.cwd,
                                    capture_output=True, timeout=20)
        finally:
            frozen and os.kill(self.service.pid, signal.SIGCONT)
        return result.returncode, self.message(result.stderr.decode(errors="replace"))

    def meanwhile(self):
        # What changes the display while the program waits on the store, and
        # the program's environment: here it reads the display of a server of
        # its own, which goes away.
        server, display = start_xserver(self.env)
        return lambda: stop_xserver(server), dict(self.env, DISPLAY=display)

    def pipe(self):
        # The settings file is a named pipe: the program waits in its first
        # read of the store, after it read the display, while meanwhile()
        # changes the display; then it reads OLD. There is a reader once the
        # program opens the pipe; before, the open fails.
        change, env = self.meanwhile()

        def go_on(pipe):
            change()
            if pipe is not None:
                os.write(pipe, store(OLD).encode())
                os.close(pipe)
        return env, lambda _: os.open(self.settings, os.O_WRONLY | os.O_NONBLOCK), go_on

    def lock(self):
        # Another run holds the store's turn and changes the mode to 1024x768
        # at 75 Hz once the program waits for its turn; then lets it go on.
        folder = os.open(self.folder, os.O_RDONLY)
        fcntl.flock(folder, fcntl.LOCK_EX)
        waiting = lambda pid: re.search(r"^\d+: -> FLOCK +ADVISORY +WRITE +%d " % pid, open("/proc/locks").read(), re.M)
        return self.env, waiting, lambda _: (self.no_service or self.set_mode(1024, 768, 75), os.close(folder))

    def run_held(self, args, env, waits, go_on):
        # Runs the program until `waits(pid)` says it waits, then calls
        # `go_on` with what `waits` returned (it raises, or returns None, while
        # the program does not wait yet); with None where the program ended
        # first, or waited for nothing within 60 s (then killed: -9, which
        # fails the row).
        program = subprocess.Popen([*self.command, *args], env=env, cwd=self.cwd, stderr=subprocess.PIPE)
        held = chroot.until(lambda: program.poll() is not None or waits(program.pid))
        held = None if held is True else held
        held is None and program.kill()
        go_on(held)
        return program.wait(timeout=60), self.message(program.stderr.read().decode(errors="replace"))

    @staticmethod
    def message(said):
        # (title, text) of a message box written as two lines, or of an error
        # report written as "vistrel: text"; None for nothing.
        if not said or not said.endswith("\n") or "Sanitizer" in said or "runtime error" in said:
            return ("?", said) if said else None
        title, _, text = ("Vistrel\n" + said[9:] if said.startswith("vistrel: ") else said)[:-1].partition("\n")
        return title, text

    def set_saved(self, saved):
        # The store as the row gives it; one that a run holds ("locked", or a
        # driver's own) holds OLD.
        self.held = saved
        shutil.rmtree(os.path.dirname(self.folder), ignore_errors=True)
        os.makedirs(os.path.dirname(self.folder))
        # A file where the folder should be.
        if saved == "unwritable":
            return open(self.folder, "w").close()
        if saved:
            os.mkdir(self.folder)
        if saved == "pipe":
            os.mkfifo(self.settings)
        elif saved:
            open(self.settings, "w").write(store(OLD if isinstance(saved, str) else saved))

    def saved(self):
        # The four entries (None where absent); None without a [Restore]
        # section; else what is wrong: the folder a file, the settings file
        # none (a pipe), any file the program left beside it.
        if os.path.isfile(self.folder):
            return "unwritable"
        left = os.listdir(self.folder) if os.path.isdir(self.folder) else []
        if left not in ([], ["settings.ini"]) or left and not os.path.isfile(self.settings):
            return "in the folder: %s" % left
        section = re.search(r"^\[Restore\]\n((?:[^\[].*\n?)*)", open(self.settings).read() if left else "", re.M)
        values = dict(re.findall(r"^(\w+)=(.*)$", section[1], re.M)) if section else {}
        return tuple(map(values.get, KEYS)) if section else None

    # What a command that reads or sets the service writes.
    def output(self, *command):
        return subprocess.run(command, env=self.env, check=True, capture_output=True, text=True, timeout=60).stdout

    def xrandr(self, *args):
        return self.output("xrandr", *args)

    def layout(self, width, height, rate):
        # The row's arrangement with the device in this mode: {m} its size, {r} its rate.
        layout = self.arrangements[self.arrangement]
        layout = layout if isinstance(layout, str) else layout.get("%dx%d" % (width, height), "")
        return layout.format(m="%dx%d" % (width, height), r="%g" % rate, w=width, h=height)

    def mode(self):
        # The device's mode as (width, height, Hz); what the service shows
        # instead where it is not the row's arrangement with the device so.
        (width, height, rate), shown = self.shown()
        wanted = self.layout(width, height, rate).split(" | ")
        return (width, height, rate) if sorted(shown) == sorted(wanted) else (shown, wanted, rate)

    def set_mode(self, width, height, rate):
        layout, args = self.layout(width, height, rate).split(" | "), []
        for name in ("DUMMY1", "DUMMY2"):
            args += ["--output", name, "--off"] * (not any(o.startswith(name) for o in layout))
        for name, size, place in (output.split() for output in layout):
            args += ["--output", name, "--mode", size, "--pos", place.replace(",", "x")]
        self.xrandr(*args, "--output", "DUMMY0", "--rate", str(rate))

    def shown(self):
        # The device's mode, and each output as the arrangements write it; the
        # screen's size too where it is not the outputs' extent.
        text = self.xrandr("--current")
        width, height, rate = re.search(r"^ +(\d+)x(\d+) .*?([\d.]+)\*", text, re.M).groups()
        outputs = re.findall(r"^(\S+) \w*connected (?:primary )?(\d+)x(\d+)\+(\d+)\+(\d+)", text, re.M)
        screen = "screen %sx%s" % re.search(r"current (\d+) x (\d+)", text).groups()
        extent = "screen %dx%d" % tuple(max(int(o[i]) + int(o[i + 2]) for o in outputs) for i in (1, 2))
        shown = ["%s %sx%s %s,%s" % o for o in outputs] + [screen] * (screen != extent)
        return (int(width), int(height), float(rate)), shown

    def modes(self):
        # The output's modes in the server's order, as (width, height, 32, Hz).
        text = re.split(r"\n\S", self.xrandr("--verbose").split("\nDUMMY0 ")[1])[0]
        sizes = re.findall(r"h: width\s+(\d+).*\n\s+v: height\s+(\d+).*clock\s+([\d.]+)Hz", text)
        return [(int(w), int(h), 32, float(hz)) for w, h, hz in sizes]


CASES = [
    Case("the X server goes away during a change: the saved mode put back", NUMERIC, saved="pipe", status=3,
         saved_after=OLD, message='lost the connection to display ":[0-9]+"'),
]
