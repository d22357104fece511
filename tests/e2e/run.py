# Runs the end-to-end cases of cases.py against one display service.
#
# python3 run.py DRIVER PROGRAM [NAME_PART]
#
# DRIVER names a module beside this file whose Driver class starts the service
# (as a context manager), runs the program on it and reads what the service and
# the store hold; its CASES, if any, are rows of that service's own rules. Each
# failing check prints the case and what differed; exit status 1 if any did.

import dataclasses
import importlib
import os
import re
import shutil
import sys
import tempfile
from concurrent.futures import ThreadPoolExecutor

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from cases import CASES, MODES, SAME  # noqa: E402


def parse_mode(text):
    size, rate = text.split("@")
    return tuple(map(int, size.split("x"))) + (float(rate),)


def as_service_does(case, driver):
    # The row as `driver`'s service must do it, or None when it cannot.
    if driver.name in case.on:
        if case.on[driver.name] is None:
            return None
        case = dataclasses.replace(case, **case.on[driver.name])
    if not driver.no_service:
        return case
    # Where there is no service, whatever reaches the display is not done.
    if case.status not in (0, 3) or case.together:
        return None
    return dataclasses.replace(case, status=3, mode_after=None, saved_after=SAME, output=None,
                               message=driver.no_service_message)


def prepare(case, driver):
    driver.set_saved(case.saved)
    if not driver.no_service:
        driver.set_mode(*parse_mode(case.mode))
    path = os.path.join(driver.program_dir, "output.txt")
    shutil.rmtree(path) if os.path.isdir(path) and not os.path.islink(path) else None
    os.remove(path) if os.path.lexists(path) else None
    elsewhere = os.path.join(driver.work, "elsewhere")
    if case.listfile in ("junk", "link"):
        with open(path if case.listfile == "junk" else elsewhere, "w") as f:
            f.write("must stay as it is\n")
    if case.listfile == "link":
        os.symlink(elsewhere, path)
    elif case.listfile == "folder":
        os.makedirs(os.path.join(path, "inside"))


def list_file(driver):
    # What output.txt holds: MODES when it is exactly the service's list.
    path = os.path.join(driver.program_dir, "output.txt")
    if os.path.islink(path) or os.path.isdir(path) or not os.path.exists(path):
        return "a link" if os.path.islink(path) else "folder" if os.path.isdir(path) else None
    with open(path, "rb") as f:
        data = f.read()
    expected = b"".join(b"%dx%dx%d Bits @ %d Hz\r\n" % mode for mode in driver.modes())
    return MODES if data == expected and expected else data[:300]


def said(message, expected):
    # Whether `message` (title, text) is `expected` (title, text pattern).
    if message is None or expected is None:
        return message == expected
    return message[0] == expected[0] and re.fullmatch(expected[1], message[1], re.S)


def check(case, driver, status, message, saved_before):
    # Returns what differs from the row after the run, one text per check.
    failures = []
    if status not in ((0, 3) if case.together else (case.status,)):
        failures.append("exit status %r, expected %r; it said %r" % (status, case.status, message))
    if not said(message, case.message):
        failures.append("message %r, expected %r" % (message, case.message))
    if not driver.no_service and not case.together:
        width, height, rate = parse_mode(case.mode_after or case.mode)
        actual = driver.mode()
        if actual[:2] != (width, height) or abs(actual[2] - rate) > driver.rate_tolerance:
            failures.append("mode in force %r, expected %dx%d@%s" % (actual, width, height, rate))
    saved = driver.saved()
    if case.together:
        if saved not in [tuple(map(str, mode)) for mode in driver.modes()]:
            failures.append("saved entries %r: not one mode of the display" % (saved,))
    elif saved != (saved_before if case.saved_after == SAME else case.saved_after):
        failures.append("saved entries %r, expected %r" % (saved, case.saved_after))
    listed = list_file(driver)
    if listed != case.output:
        failures.append("output.txt %r, expected %r" % (listed, case.output))
    if case.listfile == "link" and open(os.path.join(driver.work, "elsewhere")).read() != "must stay as it is\n":
        failures.append("the program wrote through the link output.txt")
    return failures


def run_case(case, driver):
    prepare(case, driver)
    saved_before = driver.saved()
    if not case.together:
        return check(case, driver, *driver.run(case.args, case.env), saved_before)
    with ThreadPoolExecutor(len(case.args)) as pool:
        results = list(pool.map(lambda args: driver.run(args, case.env), case.args))
    status = next((s for s, _ in results if s not in (0, 3)), 0)
    return check(case, driver, status, next((m for _, m in results if m), None), saved_before)


def main():
    driver_name, program = sys.argv[1], os.path.abspath(sys.argv[2])
    module = importlib.import_module(driver_name)
    work = tempfile.mkdtemp(prefix="vistrel-e2e-%s." % driver_name)
    passed = failed = 0
    try:
        with module.Driver(program, work) as driver:
            driver.name = driver_name
            for row in CASES + getattr(module, "CASES", []):
                case = as_service_does(row, driver)
                if case is None or (sys.argv[3:] and sys.argv[3] not in case.name):
                    continue
                failures = run_case(case, driver)
                print("%s  %s" % ("FAIL" if failures else "ok  ", case.name) + "".join("\n      " + f for f in failures))
                passed, failed = passed + (not failures), failed + bool(failures)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("%s: %d passed, %d failed" % (driver_name, passed, failed))
    return 1 if failed or not passed else 0


if __name__ == "__main__":
    sys.exit(main())
