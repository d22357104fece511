# The Windows program under Wine on a private Xorg dummy display: the mode
# in force read with xrandr, the store with Wine's reg, message boxes with
# xdotool, the mode list and a volatile key through wine_helper
# (tests/windows/WineHelper.cpp, its path in VISTREL_WINE_HELPER).
# The program sits in a folder named "Vistrel -restore": only a command text
# that leaves the program's name out keeps that word from being an argument.

import os
import re
import shutil
import subprocess
import tempfile
import time

import x11

KEY = r"HKEY_CURRENT_USER\Software\Quendrel"


class Driver(x11.Driver):
    # Wine chooses among rates by whole Hz.
    rate_tolerance = 0.5
    arrangements = {"": x11.ARRANGEMENTS["x11"][""]}  # the device alone

    def __enter__(self):
        super().__enter__()
        self.env.update(WINEPREFIX=self.work + "/prefix", WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
        subprocess.run(["wineboot", "-i"], env=self.env, check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=300)
        # One server for every run, persistent: the one wineboot started quits
        # when idle, and with it a volatile key ("unwritable") made between runs.
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=60)
        subprocess.run(["wineserver", "-p"], env=self.env, check=True, timeout=60)
        self.program_dir = self.work + "/prefix/drive_c/Vistrel -restore"
        os.makedirs(self.program_dir)
        shutil.copy(self.command[0], self.program_dir + "/vistrel.exe")
        shutil.copy(os.environ["VISTREL_WINE_HELPER"], self.program_dir + "/helper.exe")
        return self

    def __exit__(self, *exception):
        for how in ("-k", "-w"):  # killed, and gone
            subprocess.run(["wineserver", how], env=self.env)
        super().__exit__(*exception)

    def wine(self, *args, check=True):
        # Into a file, not a pipe: Wine's own processes that outlive the call
        # would hold a pipe open.
        with tempfile.TemporaryFile() as out:
            subprocess.run(["wine", *args], env=self.env, cwd=self.program_dir, stdin=subprocess.DEVNULL, stdout=out,
                           stderr=subprocess.DEVNULL, check=check, timeout=120)
            out.seek(0)
            return out.read().decode(errors="replace")

    def run(self, args, env):
        # A message box is seen by its title (its text comes from the same
        # code as on Linux) and answered with Return, once it has the focus.
        program = subprocess.Popen(["wine", r"C:\Vistrel -restore\vistrel.exe", *args], cwd=self.program_dir,
                                   env=dict(self.env, **env), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        title, deadline = None, time.monotonic() + 60
        while program.poll() is None and time.monotonic() < deadline:
            box = subprocess.run(["xdotool", "search", "--name", "^(ERROR: Vistrel |Vistrel)$",
                                  *"getwindowname windowfocus --sync key Return".split()],
                                 env=self.env, capture_output=True, text=True)
            title = title or box.stdout.rstrip("\n") or None
            time.sleep(0.1)
        return program.wait(timeout=60), title and (title, None)

    def modes(self):
        return [tuple(map(int, line.split())) for line in self.wine("helper.exe", "modes").splitlines()]

    def set_saved(self, saved):
        # Rewrites the store's key through a .reg file.
        lines = ["REGEDIT4", "[-%s]" % KEY]
        if saved and saved != "unwritable":
            lines += ["[%s\\Restore]" % KEY] + ['"%s"="%s"' % kv for kv in zip(x11.KEYS, saved) if kv[1] is not None]
        open(self.program_dir + "/saved.reg", "w").write("\r\n".join(lines) + "\r\n")
        self.wine("reg", "import", "saved.reg")
        if saved == "unwritable":
            self.wine("helper.exe", "volatile", r"Software\Quendrel")

    def saved(self):
        listing = self.wine("reg", "query", KEY + r"\Restore", check=False)
        values = dict(re.findall(r"^\s+(Old\w+)\s+REG_SZ\s+(\S*)", listing, re.M))
        return tuple(map(values.get, x11.KEYS)) if values else None

