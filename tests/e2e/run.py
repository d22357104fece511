# Runs the end-to-end cases of cases.py against one display service.
#
# python3 run.py DRIVER[:VARIANT] PROGRAM [NAME_PART]
#
# DRIVER names a module beside this file whose Driver class starts the service
# (as a context manager; VARIANT, its `variant`, says which compositor and
# chroot where a driver serves several), runs the program on it and reads what the service and
# the store hold; its CASES, if any, are rows of that service's own rules. Each
# failing check prints the case and what differed; exit status 1 if any did.

import dataclasses
import importlib
import os
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from cases import CASES, MODES, RULED  # noqa: E402


def parse_mode(text):
    size, rate = text.split("@")
    return (*map(int, size.split("x")), float(rate))


def as_service_does(case, driver):
    # The row as `driver`'s service must do it, or None when it cannot (or
    # the driver cannot set the row's arrangement of monitors).
    on = case.on.get("%s:%s" % (driver.name, driver.variant), case.on.get(driver.name, {}))
    if on is None or case.arrangement not in driver.arrangements:
        return None
    case, only = dataclasses.replace(case, **on), driver.only_mode
    # The device lists one mode, the one in force: any other is refused.
    if only:
        refused = case.status == 0 and case.mode_after not in (None, only)
        case = dataclasses.replace(case, mode=only, **(dict(status=3, mode_after=None) if refused else {}))
    if not driver.no_service:
        return case
    # Where there is no service, whatever reaches the display is not done.
    if case.status in (0, 3):
        return dataclasses.replace(case, status=3, mode_after=None, saved_after=RULED, output=None,
                                   message=driver.no_service_message)


def prepare(case, driver):
    driver.set_saved(case.saved)
    if not driver.no_service:
        driver.arrangement = case.arrangement
        driver.set_mode(*parse_mode(case.mode))
    path, elsewhere = driver.program_dir + "/output.txt", driver.work + "/elsewhere"
    subprocess.run(["rm", "-rf", path], check=True)
    if case.listfile in ("junk", "link"):
        open(path if case.listfile == "junk" else elsewhere, "w").write("must stay as it is\n")
    case.listfile == "link" and os.symlink(elsewhere, path)
    case.listfile == "folder" and os.makedirs(path + "/inside")


def list_file(driver):
    # What output.txt holds: MODES when it is exactly the service's list.
    path = driver.program_dir + "/output.txt"
    if os.path.islink(path) or not os.path.isfile(path):
        return "a link" if os.path.islink(path) else "folder" if os.path.isdir(path) else None
    data = open(path, "rb").read()
    expected = b"".join(b"%dx%dx%d Bits @ %d Hz\r\n" % (*m[:3], m[3] + 0.5) for m in driver.modes())
    return MODES if data == expected and expected else data[:300]


def said(message, expected):
    # Whether `message` (title, text) is `expected` (title, text pattern, or
    # the pattern alone of an error report); a text of None is one the driver
    # cannot read.
    expected = ("Vistrel", expected) if isinstance(expected, str) else expected
    if message is None or expected is None:
        return message == expected
    return message[0] == expected[0] and (message[1] is None or re.fullmatch(expected[1], message[1], re.S))


def check(case, driver, status, message, saved_before):
    # Returns what differs from the row after the run, one text per check:
    # (what, got, whether as the row says, what the row says).
    saved, listed = driver.saved(), list_file(driver)
    width, height, rate = parse_mode(case.mode)
    replaced = (str(width), str(height), "32", str(round(rate)))
    # A change saves the mode it replaced; anything else keeps the saved mode.
    expected = case.saved_after if case.saved_after != RULED else replaced if case.mode_after else saved_before
    checks = [("exit status", status, status == case.status, case.status),
              ("message", message, said(message, case.message), case.message),
              ("saved entries", saved, saved == expected, expected),
              ("output.txt", listed, listed == case.output, case.output)]
    if not driver.no_service:
        width, height, rate = parse_mode(case.mode_after or case.mode)
        mode = driver.mode()
        near = mode[:2] == (width, height) and abs(mode[2] - rate) <= driver.rate_tolerance
        checks.append(("mode in force", mode, near, case.mode_after or case.mode))
    if case.listfile == "link":
        text = open(driver.work + "/elsewhere").read()
        checks.append(("the file that output.txt linked to", text, text == "must stay as it is\n", "untouched"))
    return ["%s %r, expected %r" % (what, got, wanted) for what, got, ok, wanted in checks if not ok]


def run_case(case, driver):
    prepare(case, driver)
    saved_before = driver.saved()
    return check(case, driver, *driver.run(case.args, case.env), saved_before)


def main():
    driver_name, program = sys.argv[1], os.path.abspath(sys.argv[2])
    module_name, _, variant = driver_name.partition(":")
    module = importlib.import_module(module_name)
    passed = failed = 0
    with tempfile.TemporaryDirectory(prefix="vistrel-e2e-%s." % driver_name.replace(":", "-")) as work, \
            module.Driver(program, work, variant) as driver:
        driver.name = module_name
        for row in CASES + getattr(module, "CASES", []):
            case = as_service_does(row, driver)
            if case is None or (sys.argv[3:] and sys.argv[3] not in case.name):
                continue
            failures = run_case(case, driver)
            print("%s  %s" % ("FAIL" if failures else "ok  ", case.name) + "".join("\n      " + f for f in failures))
            passed, failed = passed + (not failures), failed + bool(failures)
    print("%s: %d passed, %d failed" % (driver_name, passed, failed))
    return 1 if failed or not passed else 0


if __name__ == "__main__":
    sys.exit(main())
