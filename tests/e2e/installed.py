# The installed package's program (PROGRAM is /usr/bin/vistrel) on the X11
# driver's display, run as an ordinary user (USER, made by tests/package.sh)
# in the program folder: run from its install folder it writes output.txt
# into the current directory, where the user is.

import os
import pwd
import subprocess

import x11

USER = "vistrel-test"
# The same service: its own rows too.
CASES = x11.CASES


class Driver(x11.Driver):
    def __init__(self, program, work, variant=""):
        super().__init__(program, work, variant)
        user = pwd.getpwnam(USER)
        self.owner, self.cwd = "%d:%d" % (user.pw_uid, user.pw_gid), self.program_dir
        self.command = ["setpriv", "--reuid=%d" % user.pw_uid, "--regid=%d" % user.pw_gid, "--clear-groups", program]
        os.chmod(work, 0o755)
        subprocess.run(["chown", self.owner, self.program_dir], check=True)

    def set_saved(self, saved):
        super().set_saved(saved)
        subprocess.run(["chown", "-R", self.owner, os.path.dirname(self.folder)], check=True)
