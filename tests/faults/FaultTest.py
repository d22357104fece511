"""Fault tests of the Linux program, end to end against a real X server.

Run as: with-xserver python3 FaultTest.py PATH_TO_VISTREL [TestClass...]

The X server goes away, the settings store cannot be written, the settings
file is garbage, "output.txt" cannot be written, twenty runs race on one
display and one store: every run must end with a defined exit status and a
plain message, and never lose the saved mode or a line of the settings file
that it did not mean to replace. Faults are made with file types, links and
stopped servers, not with permissions: the tests run as root.

Builds on tests/linux/EndToEndTest.py (its ProgramTest runs a copy of the
program from a temporary folder with a temporary settings folder).
"""

import os
import random
import re
import signal
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "linux"))
import EndToEndTest as e2e  # noqa: E402

WITH_XSERVER = os.path.join(HERE, "..", "xserver", "with-xserver")
NUMERIC = ("-768", "-1024", "-32", "-60", "-1")   # 1024x768 at 60 Hz
SAVED_AFTER_NUMERIC = ("1280", "1024", "32", "75")  # the start mode
START = (1280, 1024, 75.02)
OLD_KEY_LINE = re.compile(rb"^\s*Old(Width|Height|BPP|Refresh)\s*=", re.I)
VALID_SETTINGS = b"[Restore]\nOldWidth=640\nOldHeight=480\nOldBPP=32\nOldRefresh=60\n"


def process_state(pid):
    """Returns (state letter, parent pid) of a process, or None once it is gone."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
    except (FileNotFoundError, ProcessLookupError):
        return None
    return fields[0], int(fields[1])


class PrivateServer:
    """An X server of a test's own, started by with-xserver, that the test may
    stop while with-xserver waits for its command (which waits for us)."""

    def __init__(self):
        self.process = subprocess.Popen([WITH_XSERVER, "/bin/sh", "-c", 'echo "$DISPLAY"; read line'],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.display = self.process.stdout.readline().strip()
        if not self.display:
            raise RuntimeError("with-xserver did not start a server")
        self.pid = self._server_pid()

    def _server_pid(self):
        for name in os.listdir("/proc"):
            if not name.isdigit():
                continue
            try:
                with open("/proc/%s/comm" % name) as f:
                    comm = f.read().strip()
            except OSError:
                continue
            state = process_state(int(name))
            if comm == "Xorg" and state and state[1] == self.process.pid:
                return int(name)
        raise RuntimeError("no Xorg child of with-xserver")

    def stop(self):
        """Ends the server and waits until it is gone (a zombie counts)."""
        os.kill(self.pid, signal.SIGTERM)
        for _ in range(300):
            state = process_state(self.pid)
            if state is None or state[0] == "Z":
                return
            time.sleep(0.05)
        os.kill(self.pid, signal.SIGKILL)

    def close(self):
        self.process.stdin.close()
        self.process.wait(timeout=60)
        self.process.stdout.close()


class FaultTest(e2e.ProgramTest):
    """Runs the program with changes to its environment and checks that it
    ends with what it says it ended with."""

    def run_with(self, *args, env=None):
        full = dict(os.environ, XDG_CONFIG_HOME=self.config)
        for name, value in (env or {}).items():
            if value is None:
                full.pop(name, None)
            else:
                full[name] = value
        result = subprocess.run([self.program, *args], env=full, capture_output=True, timeout=120)
        self.assertNotIn(b"Sanitizer", result.stderr)
        self.assertNotIn(b"runtime error:", result.stderr)
        return result

    def assert_says(self, result, status, pattern):
        """Exit status `status` and one line on standard error matching `pattern`."""
        self.assertEqual(result.returncode, status, result.stderr)
        text = result.stderr.decode(errors="replace")
        self.assertRegex(text, r"\Avistrel: [^\n]*" + pattern + r"[^\n]*\n\Z")

    def settings_bytes(self):
        with open(self.settings, "rb") as f:
            return f.read()

    def write_settings(self, data):
        os.makedirs(os.path.dirname(self.settings), exist_ok=True)
        with open(self.settings, "wb") as f:
            f.write(data)

    def saved_entries(self):
        """The four saved texts as bytes, None where absent; from the first
        [Restore] section, as the program reads them."""
        values, inside = {}, False
        for line in self.settings_bytes().split(b"\n"):
            line = line.rstrip(b"\r").strip(b" \t")
            if line.startswith(b"[") and line.endswith(b"]"):
                if inside:
                    break
                inside = line[1:-1].strip().lower() == b"restore"
            elif inside and b"=" in line:
                key, value = line.split(b"=", 1)
                values.setdefault(key.strip().lower(), value.strip())
        return tuple(values.get(k) for k in (b"oldwidth", b"oldheight", b"oldbpp", b"oldrefresh"))

    def assert_numeric_saves_and_keeps(self, before):
        """A numeric command changes the mode, saves the mode it replaced and
        keeps every line of `before` that is not a saved-mode entry."""
        result = self.run_with(*NUMERIC)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(e2e.current_mode(), (1024, 768, 60.0))
        after = self.settings_bytes()
        self.assertEqual(self.saved_entries(), tuple(v.encode() for v in SAVED_AFTER_NUMERIC))
        kept = iter(after.split(b"\n"))
        for line in before.split(b"\n"):
            if not OLD_KEY_LINE.match(line):
                self.assertIn(line, kept, "a line of the settings file was lost: %r" % line[:80])
        self.assertEqual(os.listdir(os.path.dirname(self.settings)), ["settings.ini"])
        result = self.run_with("-restore")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(e2e.current_mode(), START)


class ServerGoneTest(FaultTest):
    def test_no_display_named(self):
        self.run_with(*NUMERIC)
        before = self.settings_bytes()
        for args in (NUMERIC, ("-restore",), ("-output",)):
            result = self.run_with(*args, env={"DISPLAY": None})
            self.assert_says(result, 3, r'cannot open display ""')
            self.assertEqual(self.settings_bytes(), before)
        self.assertFalse(os.path.exists(os.path.join(self.program_dir, "output.txt")))

    def test_display_number_without_a_server(self):
        self.run_with(*NUMERIC)
        before = self.settings_bytes()
        display = e2e.free_display()
        for args in (("-600", "-800", "-32", "-60", "-1"), ("-restore",)):
            result = self.run_with(*args, env={"DISPLAY": display})
            self.assert_says(result, 3, re.escape('cannot open display "%s"' % display))
            self.assertEqual(self.settings_bytes(), before)
        self.assertEqual(e2e.current_mode(), (1024, 768, 60.0))

    def test_server_stopped_between_two_runs(self):
        server = PrivateServer()
        try:
            env = {"DISPLAY": server.display}
            result = self.run_with(*NUMERIC, env=env)
            self.assertEqual(result.returncode, 0, result.stderr)
            before = self.settings_bytes()
            server.stop()
            result = self.run_with("-restore", env=env)
            self.assert_says(result, 3, re.escape('cannot open display "%s"' % server.display))
            self.assertEqual(self.settings_bytes(), before)
        finally:
            server.close()

    def test_connection_closed_by_the_server_during_a_change(self):
        # The settings file is a named pipe: the program blocks in its first
        # read of the store, after it has read the display and before it
        # saves. The server goes away there; the change must then be
        # abandoned with the saved mode as it was.
        server = PrivateServer()
        try:
            os.makedirs(os.path.dirname(self.settings))
            os.mkfifo(self.settings)
            env = dict(os.environ, XDG_CONFIG_HOME=self.config, DISPLAY=server.display)
            program = subprocess.Popen([self.program, *NUMERIC], env=env, stdout=subprocess.PIPE,
                                       stderr=subprocess.PIPE)
            pipe = self._open_when_read(program)
            server.stop()
            with open(self.settings + ".new", "wb") as f:
                f.write(VALID_SETTINGS)
            os.rename(self.settings + ".new", self.settings)  # later reads find a plain file
            os.write(pipe, VALID_SETTINGS)
            os.close(pipe)
            _, stderr = program.communicate(timeout=60)
            self.assertNotIn(b"Sanitizer", stderr)
            self.assertEqual(self.settings_bytes(), VALID_SETTINGS)
            self.assertEqual(program.returncode, 3, stderr)
            self.assertRegex(stderr.decode(errors="replace"), r"\Avistrel: [^\n]*display[^\n]*\n\Z")
        finally:
            server.close()

    def _open_when_read(self, program):
        """Opens the named pipe for writing once the program opens it for
        reading; fails if the program ends first."""
        for _ in range(3000):
            try:
                return os.open(self.settings, os.O_WRONLY | os.O_NONBLOCK)
            except OSError as error:
                if error.errno != 6:  # ENXIO: no reader yet
                    raise
            if program.poll() is not None:
                self.fail("the program ended before it read the settings: %r" % program.stderr.read())
            time.sleep(0.01)
        self.fail("the program never read the settings")


class StoreFaultTest(FaultTest):
    def test_store_folder_is_a_regular_file(self):
        os.makedirs(self.config)
        folder = os.path.dirname(self.settings)
        with open(folder, "wb") as f:
            f.write(b"not a folder\n")
        result = self.run_with(*NUMERIC)
        self.assertEqual(result.returncode, 3, result.stderr)  # abandoned silently
        self.assertEqual(result.stderr, b"")
        self.assertEqual(e2e.current_mode(), START)
        with open(folder, "rb") as f:
            self.assertEqual(f.read(), b"not a folder\n")
        self.assert_says(self.run_with("-restore"), 1, "no saved display mode")
        self.assertEqual(e2e.current_mode(), START)

    def test_settings_file_is_a_folder(self):
        os.makedirs(os.path.join(self.settings, "inside"))
        self.assert_says(self.run_with("-restore"), 1, "no saved display mode")
        result = self.run_with(*NUMERIC)
        self.assertEqual(result.returncode, 3, result.stderr)
        self.assertEqual(e2e.current_mode(), START)
        self.assertEqual(os.listdir(self.settings), ["inside"])
        self.assertEqual(os.listdir(os.path.dirname(self.settings)), ["settings.ini"])


class GarbageSettingsTest(FaultTest):
    """-restore on a garbage file says what is wrong and changes nothing; a
    numeric command then saves the mode and keeps every other line."""

    OTHER = b"\n[Other]\nkeep=this line\n"

    def check_restore(self, data, status, pattern):
        self.write_settings(data)
        result = self.run_with("-restore")
        if pattern is None:
            self.assertEqual(result.returncode, status, result.stderr)
            self.assertEqual(result.stderr, b"")
        else:
            self.assert_says(result, status, pattern)
        self.assertEqual(e2e.current_mode(), START)
        self.assertEqual(self.settings_bytes(), data)
        self.assert_numeric_saves_and_keeps(data)

    def test_binary_bytes(self):
        self.check_restore(random.Random(5).randbytes(65536) + self.OTHER, 1, r"OldWidth")

    def test_huge_file(self):
        self.check_restore((b"; " + b"z" * 1000 + b"\n") * 8000 + b"x" * 100000, 1, r"OldWidth")

    def test_no_sections(self):
        self.check_restore(b"OldWidth=640\nOldHeight=480\nOldBPP=32\nOldRefresh=60\n", 1, r"OldWidth")

    def test_values_that_are_words(self):
        self.check_restore(b"[Restore]\nOldWidth=wide\nOldHeight=480\nOldBPP=32\nOldRefresh=60" + self.OTHER,
                           1, r'OldWidth.*"wide" is not a number')

    def test_values_beyond_single_precision(self):
        self.check_restore(b"[Restore]\r\nOldWidth=640\r\nOldHeight=1e39\r\nOldBPP=32\r\nOldRefresh=60\r\n",
                           1, r"OldHeight.*1e39")

    def test_value_deleted(self):
        self.check_restore(b"[Restore]\nOldWidth=640\nOldHeight=480\nOldBPP=32\n" + self.OTHER, 1, r"OldRefresh")

    def test_values_beyond_the_display_range_abandon_the_change(self):
        # They read as numbers, so the change is tried and abandoned: silently.
        self.check_restore(b"[Restore]\nOldWidth=3e9\nOldHeight=480\nOldBPP=32\nOldRefresh=60\n", 3, None)
        self.write_settings(b"[Restore]\nOldWidth=-640\nOldHeight=480\nOldBPP=32\nOldRefresh=60\n")
        self.assertEqual(self.run_with("-restore").returncode, 3)

    def test_line_break_at_the_end_is_a_lone_carriage_return(self):
        self.check_restore(b"; edited\r\n[Restore]\r\nOldWidth=640\r\nOldHeight=480\r", 1, r"OldBPP")


class OutputFileTest(FaultTest):
    def output(self):
        return os.path.join(self.program_dir, "output.txt")

    def test_output_is_a_folder(self):
        os.makedirs(os.path.join(self.output(), "inside"))
        self.assert_says(self.run_with("-output"), 1, re.escape(self.output()))
        self.assertEqual(os.listdir(self.output()), ["inside"])

    def test_output_is_a_link_to_a_file_elsewhere(self):
        elsewhere = os.path.join(self.work, "elsewhere.txt")
        with open(elsewhere, "wb") as f:
            f.write(b"must stay as it is\n")
        os.symlink(elsewhere, self.output())
        result = self.run_with("-output")
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(elsewhere, "rb") as f:
            self.assertEqual(f.read(), b"must stay as it is\n")
        self.assertFalse(os.path.islink(self.output()))
        with open(self.output(), "rb") as f:
            self.assertTrue(f.read().startswith(b"1280x1024x32 Bits @ 75 Hz\r\n"))

    def test_output_is_a_link_to_a_folder(self):
        elsewhere = os.path.join(self.work, "folder")
        os.mkdir(elsewhere)
        os.symlink(elsewhere, self.output())
        self.assertEqual(self.run_with("-output").returncode, 0)
        self.assertEqual(os.listdir(elsewhere), [])
        self.assertTrue(os.path.isfile(self.output()) and not os.path.islink(self.output()))


class ConcurrencyTest(FaultTest):
    COMMANDS = [NUMERIC, ("-restore",), ("-600", "-800", "-32", "-60", "-1"), ("-RESTORE",),
                ("-480", "-640", "-32", "-60", "-1")]

    def test_twenty_runs_at_once(self):
        self.assertEqual(self.run_with(*NUMERIC).returncode, 0)
        env = dict(os.environ, XDG_CONFIG_HOME=self.config)
        runs = [subprocess.Popen([self.program, *self.COMMANDS[i % len(self.COMMANDS)]], env=env,
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE) for i in range(20)]
        for run in runs:
            _, stderr = run.communicate(timeout=120)
            self.assertIn(run.returncode, (0, 3), stderr)
            self.assertNotIn(b"Sanitizer", stderr)
        # The store is whole: one section, four whole numbers, no leftovers.
        text = self.settings_bytes()
        self.assertEqual(text.count(b"[Restore]"), 1, text)
        for value in self.saved_entries():
            self.assertRegex(value or b"", rb"^[0-9]+$", text)
        self.assertEqual(os.listdir(os.path.dirname(self.settings)), ["settings.ini"])
        # The server still serves, and the program still works on it.
        width, height, _ = e2e.current_mode()
        self.assertIn(b"%dx%d" % (width, height), b"1024x768 800x600 640x480 1280x1024")
        self.assertEqual(self.run_with(*NUMERIC).returncode, 0)
        self.assertEqual(e2e.current_mode(), (1024, 768, 60.0))
        self.assertEqual(self.run_with("-restore").returncode, 0)
        self.assertEqual(self.saved_entries(), (b"1024", b"768", b"32", b"60"))


if __name__ == "__main__":
    e2e.VISTREL = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
