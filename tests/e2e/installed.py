# The installed package's program (PROGRAM is /usr/bin/vistrel) on the X11
# driver's display, run in place from the program folder: run from its
# install folder, it writes output.txt into the current directory, where the
# user is.

import x11

# The same service: its own rows too.
CASES = x11.CASES


class Driver(x11.Driver):
    def __init__(self, program, work, variant=""):
        super().__init__(program, work, variant)
        self.command, self.cwd = [program], self.program_dir
