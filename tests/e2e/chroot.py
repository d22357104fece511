# Today's compositors for the end-to-end tests: Debian 13 (trixie) and sid in
# chroots that the tests make, kept in a cache folder and reused when present.
# A compositor runs inside its chroot, in mount and network namespaces of its
# own, and the program runs outside it on the socket's path.
#
# python3 chroot.py make SUITE...   makes each chroot that is not there yet,
#                                  or lacks one of its packages

import contextlib
import glob
import os
import shutil
import socket
import struct
import subprocess
import sys
import time

CACHE = os.environ.get("VISTREL_CHROOTS", "/var/cache/vistrel/chroots")
PACKAGES = {
    "trixie": "kwin-wayland libkscreen-bin qt6-wayland mutter sway labwc phoc weston xwayland wlr-randr",
    "sid": "kwin-wayland libkscreen-bin qt6-wayland mutter sway labwc wayfire phoc weston xwayland wlr-randr",
}
COMMON = "wayland-utils dbus-daemon dbus-bin procps util-linux"
PATH = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"
# Enters the chroot at $1 with the folder $2 at the same path inside, and the
# system's file systems; its /tmp is a tmpfs of the namespace's own, so that
# the folder's mount point leaves nothing behind.
ENTER = ('set -e; for m in proc sys dev; do mount --rbind /$m "$1/$m"; done; '
         'mount -t tmpfs -o mode=1777 tmpfs "$1/tmp"; mkdir -p "$1$2"; mount --bind "$2" "$1$2"; '
         'root=$1; shift 2; exec chroot "$root" "$@"')


def root(suite):
    return os.path.join(CACHE, suite) if suite else ""


def make(suite):
    # Makes `suite`'s chroot, unless one made before has every package: its
    # .ready names them (none, where older). One that lacks any is made anew.
    target, wanted = root(suite), (PACKAGES[suite] + " " + COMMON).split()
    if os.path.exists(target + "/.ready") and not set(wanted) - set(open(target + "/.ready").read().split()):
        return
    building = target + ".new"
    shutil.rmtree(building, ignore_errors=True)
    os.makedirs(CACHE, exist_ok=True)
    log = open(os.path.join(CACHE, suite + ".log"), "w")
    run = lambda *command: subprocess.run(command, stdout=log, stderr=subprocess.STDOUT, check=True)  # noqa: E731
    try:
        # From Debian's own mirror.
        run("debootstrap", "--variant=minbase", suite, building)
        # sid's Release outlives its date.
        with open(building + "/etc/apt/apt.conf.d/99vistrel", "w") as f:
            f.write('Acquire::Check-Valid-Until "false";\nAPT::Install-Recommends "false";\n')
        chrooted = ["chroot", building, "env", "-i", "PATH=" + PATH, "DEBIAN_FRONTEND=noninteractive"]
        run(*chrooted, "apt-get", "update", "-qq")
        run(*chrooted, "apt-get", "install", "-y", "-qq", *wanted)
        run(*chrooted, "apt-get", "clean")
    except subprocess.CalledProcessError:
        # The log's last line says why: a mirror that cannot be reached, ...
        raise SystemExit("chroot: making Debian %s failed: %s" % (suite, open(log.name).read().strip()[-300:]))
    with open(building + "/.ready", "w") as f:
        f.write(" ".join(wanted) + "\n")
    shutil.rmtree(target, ignore_errors=True)
    os.rename(building, target)


def inside(suite, folder, command, env, user=None, net=True):
    # The command line that runs `command` in `suite`'s chroot with the
    # environment `env` alone (HOME and XDG_RUNTIME_DIR `folder` unless it
    # says otherwise) and `folder` (the test's own) at the same path
    # inside, in mount namespaces of its own, and without `net` in the host's
    # network too (for an X display's socket). `user`: a uid to run as.
    # `suite` "": on the host, as it is.
    as_user = ["setpriv", "--reuid=%d" % user, "--regid=%d" % user, "--clear-groups"] if user is not None else []
    env = {"HOME": folder, "XDG_RUNTIME_DIR": folder, **env}
    alone = [*as_user, "env", "-i", "PATH=" + PATH, *("%s=%s" % kv for kv in env.items()), *command]
    if not suite:
        return alone
    return ["unshare", "--mount", *["--net"] * net, "sh", "-c", ENTER, "sh", root(suite), folder, *alone]


def until(holds):
    # Waits, a minute at most, until `holds()` gives what is true, and returns
    # it (None after the minute); a call that fails (what it reads is not
    # there yet) has not held.
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        with contextlib.suppress(OSError, subprocess.SubprocessError, LookupError, ValueError, StopIteration):
            if held := holds():
                return held
        time.sleep(0.05)


def start(suite, folder, command, env, ready, output=subprocess.DEVNULL, **how):
    # Starts a compositor in `suite`'s chroot (see inside) in a process group
    # of its own and returns it once `ready()` holds, it ended, or a minute
    # passed (then the first call to it fails).
    process = subprocess.Popen(["setsid", *inside(suite, folder, command, env, **how)], stdout=output,
                               stderr=output)
    until(lambda: process.poll() is not None or ready())
    return process


def wayland_answers(pattern):
    # Whether the compositor at the socket `pattern` (a glob) answers a round trip (its socket is there before it
    # reads): wl_display.sync (object 1, request 0, 12 bytes) for the new callback 2, whose done event (object 2,
    # event 0, 12 bytes) is the first that a new client gets. Raises where there is no socket yet.
    with socket.socket(socket.AF_UNIX) as client:
        client.settimeout(60)
        client.connect(glob.glob(pattern)[0])
        client.sendall(struct.pack("=3I", 1, 12 << 16, 2))
        return client.recv(8, socket.MSG_WAITALL) == struct.pack("=2I", 2, 12 << 16)


def run(suite, folder, command, env):
    # Runs a reader (wlr-randr, kscreen-doctor, swaymsg) in `suite`'s chroot
    # on the compositor's socket in `folder`; returns what it wrote.
    return subprocess.run(inside(suite, folder, command, env, net=False), check=True, capture_output=True, text=True,
                          timeout=60).stdout


def stop(process):
    # Ends the compositor and everything it started.
    try:
        os.killpg(process.pid, 15)
    except ProcessLookupError:
        pass
    process.wait(timeout=60)


if __name__ == "__main__":
    if sys.argv[1:2] != ["make"]:
        raise SystemExit("usage: chroot.py make SUITE...")
    for name in sys.argv[2:]:
        make(name)
