# The Linux program on X11: a private Xorg dummy display (tools/xserver), read
# and set with xrandr. The program runs as a copy in a program folder of its
# own, from another folder, with its settings file in a private
# XDG_CONFIG_HOME, and what it writes on standard error is the message the
# user saw.

import os
import re
import shutil
import subprocess

from cases import Case, NUMERIC, OLD

WITH_XSERVER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "xserver", "with-xserver")
KEYS = ("OldWidth", "OldHeight", "OldBPP", "OldRefresh")


def start_xserver(env, command=("sh", "-c", 'echo "$DISPLAY"; read line')):
    # with-xserver keeps its server until `command` ends, which it does once
    # its standard input closes; returns it and the first line it writes.
    server = subprocess.Popen([WITH_XSERVER, *command], env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                              text=True)
    return server, server.stdout.readline().strip()


def stop_xserver(server):
    server.stdin.close()
    server.wait(timeout=60)


class Driver:
    rate_tolerance = 0.05  # Hz: 59.94 and 60.00 differ, 75.02 is 75
    no_service = False

    def __init__(self, program, work):
        self.work, self.program_dir = work, os.path.join(work, "program")
        os.mkdir(self.program_dir)
        self.command, self.cwd = [shutil.copy(program, self.program_dir)], work
        self.folder = os.path.join(work, "config", "Quendrel")
        self.settings = os.path.join(self.folder, "settings.ini")
        self.env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(work, "config"))

    def __enter__(self):
        self.server, self.env["DISPLAY"] = start_xserver(self.env)
        return self

    def __exit__(self, *exception):
        stop_xserver(self.server)

    def run(self, args, env):
        if os.path.exists(self.settings) and not os.path.isfile(self.settings):
            return self.run_while_the_server_goes(args)
        result = subprocess.run([*self.command, *args], env=dict(self.env, **env), cwd=self.cwd, capture_output=True,
                                timeout=60)
        return result.returncode, self.message(result.stderr.decode(errors="replace"))

    def run_while_the_server_goes(self, args):
        # The program reads the display of a server of its own, which goes
        # away before the program goes on.
        server, display = start_xserver(self.env)
        return self.run_holding_the_store(args, dict(self.env, DISPLAY=display), lambda: stop_xserver(server))

    def run_holding_the_store(self, args, env, meanwhile):
        # The settings file is a named pipe: the program waits in its first
        # read of the store, after it read the display, while `meanwhile` runs.
        program = subprocess.Popen([*self.command, *args], env=env, cwd=self.cwd, stderr=subprocess.PIPE)
        pipe = os.open(self.settings, os.O_WRONLY)  # once the program opens it for reading
        meanwhile()
        os.write(pipe, ("[Restore]\n" + "".join("%s=%s\n" % kv for kv in zip(KEYS, OLD))).encode())
        os.close(pipe)
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
        shutil.rmtree(os.path.dirname(self.folder), ignore_errors=True)
        os.makedirs(os.path.dirname(self.folder))
        if saved == "unwritable":  # a file where the folder should be
            with open(self.folder, "w") as f:
                f.write("not a folder\n")
        elif saved == "pipe":
            os.mkdir(self.folder)
            os.mkfifo(self.settings)
        elif saved:
            os.mkdir(self.folder)
            with open(self.settings, "w") as f:
                f.write("[Restore]\n" + "".join("%s=%s\n" % kv for kv in zip(KEYS, saved) if kv[1] is not None))

    def saved(self):
        # The four entries (None where absent); None without a [Restore]
        # section; else what is wrong: the folder a file, the file a pipe,
        # any file the program left beside it.
        if os.path.isfile(self.folder) or (os.path.exists(self.settings) and not os.path.isfile(self.settings)):
            return "unwritable" if os.path.isfile(self.folder) else "pipe"
        left = os.listdir(self.folder) if os.path.isdir(self.folder) else []
        if left and left != ["settings.ini"]:
            return "left beside settings.ini: %s" % left
        text = open(self.settings).read() if left else ""
        section = re.search(r"^\[Restore\]\n((?:[^\[].*\n?)*)", text, re.M)
        values = dict(re.findall(r"^(\w+)=(.*)$", section.group(1), re.M)) if section else {}
        return tuple(values.get(key) for key in KEYS) if section else None

    def xrandr(self, *args):
        return subprocess.run(["xrandr", *args], env=self.env, check=True, capture_output=True, text=True).stdout

    def set_mode(self, width, height, rate):
        self.xrandr("--output", "DUMMY0", "--mode", "%dx%d" % (width, height), "--rate", str(rate))

    def mode(self):
        # The device's mode as (width, height, Hz), its size taken from the
        # screen: a screen not fitted to the mode shows as a wrong size.
        text = self.xrandr("--current")
        screen = re.search(r"current (\d+) x (\d+)", text)
        size, rates = re.search(r"^\s+(\d+x\d+)\s+(.*\*.*)$", text, re.M).groups()
        rate = float(re.search(r"([\d.]+)\*", rates).group(1))
        if size != "%sx%s" % screen.groups():
            return size, "on a screen of %sx%s" % screen.groups(), rate
        return int(screen.group(1)), int(screen.group(2)), rate

    def modes(self):
        # The output's modes in the server's order, as (width, height, 32, whole Hz).
        text = re.split(r"\n\S", self.xrandr("--verbose").split("\nDUMMY0 ")[1])[0]
        sizes = re.findall(r"h: width\s+(\d+).*\n\s+v: height\s+(\d+).*clock\s+([\d.]+)Hz", text)
        return [(int(w), int(h), 32, int(float(hz) + 0.5)) for w, h, hz in sizes]


CASES = [
    Case("no X server at the display: one line, nothing changed", NUMERIC, env={"DISPLAY": ":199"}, status=3,
         message=("Vistrel", 'cannot open display ":199"')),
    Case("the X server goes away during a change: the saved mode put back", NUMERIC, saved="pipe", status=3,
         saved_after=OLD, message=("Vistrel", 'lost the connection to display ":[0-9]+"')),
]
