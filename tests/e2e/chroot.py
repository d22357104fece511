# Today's compositors for the end-to-end tests: Debian 13 (trixie) and sid in
# chroots that the tests make, kept in a cache folder and reused when present.
# A compositor runs inside its chroot, in mount and network namespaces of its
# own, and the program runs outside it on the socket's path.
#
# python3 chroot.py make SUITE...   makes each chroot that is not there yet

import os
import shutil
import subprocess
import sys
import time
import urllib.request

CACHE = os.environ.get("VISTREL_CHROOTS", "/var/cache/vistrel/chroots")
PACKAGES = {
    "trixie": "kwin-wayland libkscreen-bin qt6-wayland mutter sway labwc phoc weston wlr-randr",
    "sid": "kwin-wayland libkscreen-bin qt6-wayland mutter sway labwc wayfire phoc wlr-randr",
}
COMMON = "wayland-utils dbus-daemon dbus-bin procps util-linux"
PATH = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"


def root(suite):
    return os.path.join(CACHE, suite) if suite else ""


def mirror():
    # The host's own Debian mirror, as its apt sources name it.
    for name in ("/etc/apt/sources.list.d/debian.sources", "/etc/apt/sources.list"):
        if os.path.exists(name):
            for line in open(name):
                words = line.replace("URIs:", "deb").split()
                if words[:1] == ["deb"] and len(words) > 1 and words[-1] != "security" and "security" not in line:
                    return next(w for w in words[1:] if "://" in w)
    raise SystemExit("chroot: no Debian mirror in the host's apt sources")


def reachable(suite, url):
    try:
        urllib.request.urlopen("%s/dists/%s/Release" % (url, suite), timeout=30).close()
    except OSError as error:
        raise SystemExit("chroot: Debian %s cannot be reached at %s: %s" % (suite, url, error))


def make(suite):
    target = root(suite)
    if os.path.exists(os.path.join(target, ".ready")):
        return
    url = mirror()
    reachable(suite, url)
    building = target + ".new"
    shutil.rmtree(building, ignore_errors=True)
    os.makedirs(CACHE, exist_ok=True)
    log = open(os.path.join(CACHE, suite + ".log"), "w")
    run = lambda *command: subprocess.run(command, stdout=log, stderr=subprocess.STDOUT, check=True)  # noqa: E731
    try:
        run("debootstrap", "--variant=minbase", suite, building, url)
        with open(building + "/etc/apt/apt.conf.d/99vistrel", "w") as f:  # sid's Release outlives its date
            f.write('Acquire::Check-Valid-Until "false";\nAPT::Install-Recommends "false";\n')
        chrooted = ["chroot", building, "env", "-i", "PATH=" + PATH, "DEBIAN_FRONTEND=noninteractive"]
        run(*chrooted, "apt-get", "update", "-qq")
        run(*chrooted, "apt-get", "install", "-y", "-qq", *(PACKAGES[suite] + " " + COMMON).split())
        run(*chrooted, "apt-get", "clean")
    except subprocess.CalledProcessError as error:
        raise SystemExit("chroot: making Debian %s failed (%s); see %s" % (suite, error, log.name))
    open(os.path.join(building, ".ready"), "w").close()
    os.rename(building, target)


def inside(suite, folder, command, env, user=None, net=True):
    # The command line that runs `command` in `suite`'s chroot with the
    # environment `env` alone and `folder` (the test's own) at the same path
    # inside, in mount namespaces of its own, and without `net` in the host's
    # network too (for an X display's socket). `user`: a uid to run as.
    # `suite` "" (its root "") is the host, as it is.
    as_user = ["setpriv", "--reuid=%d" % user, "--regid=%d" % user, "--clear-groups"] if user is not None else []
    line = [*as_user, "env", "-i", "PATH=" + PATH, *("%s=%s" % kv for kv in env.items()), *command]
    if not suite:
        return line
    os.makedirs(root(suite) + folder, exist_ok=True)
    binds = ["mount --rbind %s %s%s" % (m, root(suite), m) for m in ("/proc", "/sys", "/dev")]
    script = " && ".join(binds + ['mount --bind "$1" "%s$1"' % root(suite), 'shift', 'exec chroot "$@"'])
    return ["unshare", "--mount", *["--net"] * net, "sh", "-c", script, "sh", folder, root(suite), *line]


def start(suite, folder, command, env, ready, output=subprocess.DEVNULL, **how):
    # Starts a compositor in `suite`'s chroot (see inside) in a process group
    # of its own and returns it once `ready()` holds or it ended.
    process = subprocess.Popen(["setsid", *inside(suite, folder, command, env, **how)], stdout=output,
                               stderr=output)
    while not ready() and process.poll() is None:
        time.sleep(0.05)
    return process


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
