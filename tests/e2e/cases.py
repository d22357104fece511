# The end-to-end cases: one row per case, run against every display service
# by tests/e2e/run.py through that service's driver.
#
# A row gives the command line, the display and the store before the run, and
# what must hold after it: the exit status, the mode in force, the saved
# entries, output.txt and the message the user saw (a title and a text that
# is a regular expression; the Linux program prints message boxes as
# "title" and "text" lines and error reports as "vistrel: text"). `on` says
# what a service must do instead where it cannot do what the row says. A row
# may name an arrangement of monitors: it runs where the driver can set it.

import os
import re
from dataclasses import dataclass, field

# The saved entries after: the mode a change replaced, else as before.
RULED = "as the program's rule says"
# output.txt after: every mode the service lists.
MODES = "the service's list"
# The mode in force before a run, unless a row says otherwise.
START = "1280x1024@75"

NUMERIC = "-768 -1024 -32 -60 -1".split()
# A saved mode that rows expect to be kept.
OLD = ("800", "600", "32", "60")
# The usage warning: its title, and its text exactly as usage.txt holds it.
with open(os.path.dirname(os.path.abspath(__file__)) + "/usage.txt", newline="") as usage:
    USAGE = ("ERROR: Vistrel ", re.escape(usage.read()))


# A row's fields: the arguments; the mode in force before (`mode`) and after (`mode_after`, None:
# the mode before); the saved entries before (4 texts, None where absent; None: no store;
# "unwritable"; "pipe": read while the display goes; "locked": OLD, another run's turn; "frozen":
# OLD, the service stopped for the run) and after; output.txt before (None, "junk", "folder" or
# "link") and after (None: no file, MODES or "folder");
# the message, as (title, text pattern), the pattern alone of an error report (titled "Vistrel"), or
# None for nothing said; the monitors before by name ("": the driver's own); and in `on`, by driver
# name or DRIVER:VARIANT, the fields that service needs instead (None: the row does not run there).
@dataclass
class Case:
    name: str
    args: list
    mode: str = START
    saved: object = OLD
    listfile: str = None
    status: int = 0
    mode_after: str = None
    saved_after: object = RULED
    output: object = None
    message: tuple = None
    arrangement: str = ""
    env: dict = field(default_factory=dict)
    on: dict = field(default_factory=dict)


CASES = [
    # The command line: its split (blanks and tabs; a lone dash, a quoted word, a line feed, a second dash) is
    # fuzzed (fuzz/CommandLineFuzzer.cpp), the choice of command here.
    Case("no argument: the usage warning", [], status=2, message=USAGE),
    # The numeric command and the restore command. A depth beyond 16 bits, which abandons the change and puts
    # the saved mode back, is fuzzed (numeric-depth-overflow); its bound is in tests/LogicTest.cpp.
    Case("height before width, read up to a non-digit, halves to even; the monitor unused",
         "-767.5 -1024.5abc -32 -60.4 -9x".split(), mode_after="1024x768@60"),
    # Modes the display lacks; which mode a request chooses, and the depth, are tested in-process
    # (tests/linux/DisplaySettingsTest.cpp). wlroots' heads are virtual: they take any size and rate as a custom mode.
    Case("a size the display lacks is refused; with nothing saved, nothing is", "-769 -1024 -32 -60 -1".split(),
         saved=None, status=3, on={"wlroots": dict(status=0, mode_after="1024x769@60")}),
    # KWin's and Mutter 51's virtual monitors' one mode; a virtual head's rate 0 is none, which its compositor
    # chooses: 60 Hz up to wlroots 0.15.
    Case("-RESTORE of rate 0: the size's preferred mode, else its first; the mode it leaves saved",
         ["-RESTORE", "-768"], saved=("1024", "768", "32", "0"), mode_after="1024x768@75",
         on={"kwin": dict(mode_after="1024x768@60"), "gnome:sid": dict(mode_after="1024x768@60"),
             "wlroots": dict(mode_after="1024x768@0"), "wlroots:phoc": dict(mode_after="1024x768@60")}),
    # Saved entries that cannot be restored.
    Case("-restore with nothing saved: the conversion error", ["-restore"], saved=None, status=1,
         message=r"there is no saved display mode to restore yet \(OldWidth is empty\)"),
    Case("-restore of an entry edited to a word names it", ["-restore"], saved=("1280", "tall", "32", "75"),
         status=1, message=r'the saved OldHeight cannot be restored: "tall" is not a number'),
    Case("a store that cannot be written abandons the change", NUMERIC, saved="unwritable", status=3),
    # The list file.
    Case("-Output lists every mode in order, replacing an earlier file; a word before it is dropped",
         ["verbose", "-Output", "-768"], listfile="junk", output=MODES),
    Case("output.txt a folder: the error report", ["-output"], listfile="folder", status=1, output="folder",
         message=r".*output\.txt.*"),
    Case("output.txt a link: replaced, never written through", ["-output"], listfile="link", output=MODES,
         on={"wine": None}),
    # Monitors beyond one row: the driver checks the whole layout after, with the device in the mode after.
    Case("a mirrored, turned pair changes together", NUMERIC, arrangement="mirrored and turned",
         mode_after="1024x768@60"),
    # Three in an L: the one below the neighbour follows it.
    Case("three in an L", NUMERIC, arrangement="L of three", mode_after="1024x768@60"),
    # The primary, second, changes; the other stays aligned at the bottom.
    Case("a primary second, bottom-aligned", NUMERIC, arrangement="primary second, bottom-aligned",
         mode_after="1024x768@60"),
    # A device too short for both monitors stacked beside it: refused.
    Case("no arrangement: refused", NUMERIC, mode="2560x1600@60", arrangement="two stacked beside", status=3,
         message="no arrangement keeps the outputs .*"),
    # A service stopped for the run ("frozen"): one line once the wait reaches its bound. GNOME's is reached where
    # no Wayland socket is. X11's calls (Xlib's, under Wine too) have no bound to show.
    Case("a service that does not answer: one line after the bound", NUMERIC, saved="frozen", status=3,
         message='the Wayland display ".*": no answer within 10 s',
         on={"gnome": dict(env={"WAYLAND_DISPLAY": "gone"}, message="GetCurrentState: Connection timed out"),
             "x11": None, "installed": None, "wine": None, "none": None}),
    # A run waits for its turn before it reads the display: it saves the mode another run left.
    Case("a run takes its turn before it reads the display", NUMERIC, saved="locked", mode_after="1024x768@60",
         saved_after=("1024", "768", "32", "75"),
         on={"wine": None, "kwin": None, "kwin:sid": {}, "gnome:sid": None}),
]
