"""End-to-end tests of the Linux program against a real X server.

Run as: with-xserver python3 EndToEndTest.py PATH_TO_VISTREL [TestClass...]

DISPLAY must name a private Xorg dummy display started from
tests/xserver/dummy.conf (with-xserver does both); the tests change its mode.
Each test runs a copy of the program from a temporary program directory, with
XDG_CONFIG_HOME in a temporary folder, and checks the display with xrandr.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

VISTREL = None  # path of the built program, from the command line
START_MODE = ("1280x1024", "75.02")  # the server's first mode, in force at start

USAGE_TEXT = "\r\n".join([
    "Invalid commandline Usage.",
    "",
    "USAGE  : -height -width -depth -refreshrate -monitor ",
    "",
    "-height : Set Height of Resolution",
    "-width : Set Width of Resolution",
    "-depth : Set Depth of Resolution",
    "-refreshrate : Set Refresh Rate of Resolution",
    "-monitor : '1' = Primary Monitor  and '2' = Secondary Monitor",
    "-restore : Restore Previous Resolution",
    "-output : Make a list of All Available Resolution",
])


def xrandr_modes():
    """Returns the device's output name and its modes in the server's order,
    each as (width, height, refresh in Hz as xrandr computes it, current)."""
    text = subprocess.run(["xrandr", "--verbose"], check=True, capture_output=True, text=True).stdout
    output, modes, in_device = None, [], False
    mode = None
    for line in text.splitlines():
        heading = re.match(r"^(\S+) connected primary", line)
        if heading:
            output, in_device = heading.group(1), True
            continue
        if re.match(r"^\S", line):
            in_device = False
        if not in_device:
            continue
        start = re.match(r"^  (\S+) \(0x[0-9a-f]+\) .*MHz(.*)$", line)
        if start:
            mode = {"current": "*current" in start.group(2)}
        elif mode is not None and line.strip().startswith("h: width"):
            mode["width"] = int(line.split()[2])
        elif mode is not None and line.strip().startswith("v: height"):
            hz = float(re.search(r"clock\s+([0-9.]+)Hz", line).group(1))
            modes.append((mode["width"], int(line.split()[2]), hz, mode["current"]))
            mode = None
    return output, modes


def current_mode():
    """Returns (width, height, refresh in Hz) of the mode in force."""
    return [m[:3] for m in xrandr_modes()[1] if m[3]][0]


def set_mode(name, rate):
    subprocess.run(["xrandr", "--output", xrandr_modes()[0], "--mode", name, "--rate", rate], check=True)


def whole_hz(hz):
    return int(hz + 0.5)


def free_display():
    """Returns a display name that no server answers."""
    for number in range(97, 200):
        if not os.path.exists("/tmp/.X11-unix/X%d" % number) and not os.path.exists("/tmp/.X%d-lock" % number):
            return ":%d" % number
    raise RuntimeError("no free display number between 97 and 199")


class ProgramTest(unittest.TestCase):
    """Runs the program from a temporary program directory with a temporary
    settings folder, starting each test at the server's first mode."""

    def setUp(self):
        set_mode(*START_MODE)
        self.work = tempfile.mkdtemp(prefix="vistrel-e2e.")
        self.program_dir = os.path.join(self.work, "program")
        os.mkdir(self.program_dir)
        self.program = os.path.join(self.program_dir, "vistrel")
        shutil.copy(VISTREL, self.program)
        self.config = os.path.join(self.work, "config")
        self.settings = os.path.join(self.config, "Quendrel", "settings.ini")

    def tearDown(self):
        shutil.rmtree(self.work)

    def run_program(self, *args, display=None):
        env = dict(os.environ, XDG_CONFIG_HOME=self.config)
        if display is not None:
            env["DISPLAY"] = display
        return subprocess.run([self.program, *args], env=env, capture_output=True, timeout=60)

    def saved_mode(self):
        """Returns the four saved texts, None where an entry is absent."""
        if not os.path.exists(self.settings):
            return None
        with open(self.settings, encoding="utf-8") as f:
            values = dict(re.findall(r"^(Old\w+)=(.*)$", f.read(), re.M))
        return tuple(values.get(k) for k in ("OldWidth", "OldHeight", "OldBPP", "OldRefresh"))


class ModeListTest(ProgramTest):
    def test_lists_every_mode_in_the_servers_order_and_format(self):
        result = self.run_program("-output")
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(os.path.join(self.program_dir, "output.txt"), "rb") as f:
            listed = f.read()
        expected = b"".join(b"%dx%dx32 Bits @ %d Hz\r\n" % (w, h, whole_hz(hz)) for w, h, hz, _ in xrandr_modes()[1])
        self.assertEqual(listed, expected)
        self.assertIn(b"1024x768x32 Bits @ 60 Hz\r\n", listed)

    def test_second_run_rebuilds_the_file(self):
        self.run_program("-output")
        with open(os.path.join(self.program_dir, "output.txt"), "rb") as f:
            first = f.read()
        self.assertEqual(self.run_program("-output").returncode, 0)
        with open(os.path.join(self.program_dir, "output.txt"), "rb") as f:
            self.assertEqual(f.read(), first)

    def test_never_writes_through_a_symbolic_link(self):
        target = os.path.join(self.work, "elsewhere.txt")
        os.symlink(target, os.path.join(self.program_dir, "output.txt"))
        self.run_program("-output")
        self.assertFalse(os.path.exists(target))


class ModeChangeTest(ProgramTest):
    def test_numeric_command_changes_the_mode_and_saves_the_replaced_one(self):
        result = self.run_program("-768", "-1024", "-32", "-60", "-1")
        self.assertEqual(result.returncode, 0, result.stderr)
        width, height, hz = current_mode()
        self.assertEqual((width, height, whole_hz(hz)), (1024, 768, 60))
        self.assertEqual(self.saved_mode(), ("1280", "1024", "32", "75"))

    def test_two_restores_alternate(self):
        self.run_program("-768", "-1024", "-32", "-60", "-1")
        self.assertEqual(self.run_program("-restore").returncode, 0)
        self.assertEqual(current_mode(), (1280, 1024, 75.02))
        self.assertEqual(self.saved_mode(), ("1024", "768", "32", "60"))
        self.assertEqual(self.run_program("-restore").returncode, 0)
        self.assertEqual(current_mode(), (1024, 768, 60.0))
        self.assertEqual(self.saved_mode(), ("1280", "1024", "32", "75"))

    def test_refresh_rate_picks_among_the_modes_of_a_size(self):
        self.run_program("-600", "-800", "-32", "-56", "-1")
        self.assertEqual(current_mode(), (800, 600, 56.25))
        # 59.94 Hz and 60.00 Hz both round to 60: the nearer one wins.
        self.run_program("-480", "-640", "-32", "-60", "-1")
        self.assertEqual(current_mode(), (640, 480, 60.0))
        # 0 asks for the size's default: its first listed mode here.
        self.run_program("-768", "-1024", "-32", "-0", "-1")
        self.assertEqual(current_mode(), (1024, 768, 75.03))

    def test_mode_the_output_lacks_is_refused_and_keeps_the_saved_mode(self):
        self.run_program("-768", "-1024", "-32", "-60", "-1")
        for refused in (["-769", "-1024", "-32", "-60", "-1"],   # no such size
                        ["-768", "-1024", "-32", "-85", "-1"],   # no such refresh rate
                        ["-768", "-1024", "-16", "-60", "-1"]):  # not the depth in force
            result = self.run_program(*refused)
            self.assertEqual(result.returncode, 3, refused)
            self.assertEqual(current_mode(), (1024, 768, 60.0), refused)
            self.assertEqual(self.saved_mode(), ("1280", "1024", "32", "75"), refused)

    def test_saving_keeps_every_other_line_of_the_settings_file(self):
        os.makedirs(os.path.dirname(self.settings))
        before = ("; kept as it is\r\n[Other]\r\nOldWidth=7\r\n\r\n[Restore]\r\n"
                  "Colour=blue\r\nOldWidth=1\r\nOldRefresh=2\r\n[Last]\r\nx=y")
        with open(self.settings, "w", newline="", encoding="utf-8") as f:
            f.write(before)
        self.assertEqual(self.run_program("-768", "-1024", "-32", "-60", "-1").returncode, 0)
        with open(self.settings, newline="", encoding="utf-8") as f:
            after = f.read()
        self.assertEqual(after, "; kept as it is\r\n[Other]\r\nOldWidth=7\r\n\r\n[Restore]\r\n"
                                "Colour=blue\r\nOldWidth=1280\r\nOldRefresh=75\r\nOldHeight=1024\r\nOldBPP=32\r\n"
                                "[Last]\r\nx=y")
        self.assertEqual(sorted(os.listdir(os.path.dirname(self.settings))), ["settings.ini"])


class CommandLineTest(ProgramTest):
    def test_usage_warning_is_exact(self):
        result = self.run_program()
        self.assertEqual(result.returncode, 2)
        self.assertEqual(result.stderr.decode(), "ERROR: Vistrel \n" + USAGE_TEXT + "\n")
        self.assertEqual(result.stdout, b"")

    def test_unreachable_display_says_so_and_changes_nothing(self):
        self.run_program("-768", "-1024", "-32", "-60", "-1")
        display = free_display()
        result = self.run_program("-600", "-800", "-32", "-60", "-1", display=display)
        self.assertEqual(result.returncode, 3)
        self.assertEqual(result.stderr.decode(), 'vistrel: cannot open display "%s"\n' % display)
        self.assertEqual(self.saved_mode(), ("1280", "1024", "32", "75"))
        self.assertEqual(current_mode(), (1024, 768, 60.0))

    def test_unreadable_saved_mode_is_reported(self):
        result = self.run_program("-restore")
        self.assertEqual(result.returncode, 1)
        self.assertTrue(result.stderr.decode().startswith("vistrel: "), result.stderr)
        self.assertEqual(result.stderr.count(b"\n"), 1)
        self.assertEqual(current_mode(), (1280, 1024, 75.02))


if __name__ == "__main__":
    VISTREL = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
