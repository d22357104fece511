# What the drivers of the Linux program share: a copy of the program in a
# program folder of its own, the settings file in a private XDG_CONFIG_HOME,
# and standard error read as the message the user saw.

import os
import re
import shutil
import subprocess

KEYS = ("OldWidth", "OldHeight", "OldBPP", "OldRefresh")


class LinuxDriver:
    rate_tolerance = 0.05  # Hz: 59.94 and 60.00 differ, 75.02 is 75
    no_service = False

    def __init__(self, program, work):
        self.work = work
        self.program_dir = os.path.join(work, "program")
        os.mkdir(self.program_dir)
        self.program = shutil.copy(program, self.program_dir)
        self.folder = os.path.join(work, "config", "Quendrel")
        self.settings = os.path.join(self.folder, "settings.ini")
        self.env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(work, "config"))

    def run(self, args, env):
        result = subprocess.run([self.program, *args], env=dict(self.env, **env), capture_output=True, timeout=60)
        said = result.stderr.decode(errors="replace")
        if not said:
            return result.returncode, None
        if not said.endswith("\n") or "Sanitizer" in said or "runtime error" in said:
            return result.returncode, ("?", said)
        if said.startswith("vistrel: "):
            return result.returncode, ("Vistrel", said[len("vistrel: "):-1])
        title, _, text = said[:-1].partition("\n")
        return result.returncode, (title, text)

    def set_saved(self, saved):
        shutil.rmtree(os.path.dirname(self.folder), ignore_errors=True)
        os.makedirs(os.path.dirname(self.folder))
        if saved == "unwritable":  # a file where the folder should be
            with open(self.folder, "w") as f:
                f.write("not a folder\n")
        elif saved:
            os.mkdir(self.folder)
            with open(self.settings, "w") as f:
                f.write("[Restore]\n" + "".join("%s=%s\n" % kv for kv in zip(KEYS, saved) if kv[1] is not None))

    def saved(self):
        # The four entries (None where absent); None without a [Restore]
        # section; "unwritable" while the folder is a file; any file the
        # program left beside settings.ini.
        if os.path.isfile(self.folder):
            return "unwritable"
        if not os.path.exists(self.settings):
            return None
        left = [name for name in os.listdir(self.folder) if name != "settings.ini" and not name.endswith(".lock")]
        if left:
            return "left beside settings.ini: %s" % left
        with open(self.settings) as f:
            text = f.read()
        section = re.search(r"^\[Restore\]\n((?:[^\[].*\n?)*)", text, re.M)
        if not section:
            return None
        values = dict(re.findall(r"^(\w+)=(.*)$", section.group(1), re.M))
        return tuple(values.get(key) for key in KEYS)
