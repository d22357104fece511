#!/usr/bin/env bash
# The release files that tools/package made in dist/. The zip holds the
# Windows program, whose version resource names the release, and texts with
# CR LF line ends. Lintian finds no error or warning in the Debian package;
# installed, its program passes the end-to-end cases as an ordinary user
# (tests/e2e/installed.py, whose user this makes if absent), and the purge
# that follows, whatever they gave, leaves nothing of it. Run as root.
set -euo pipefail
cd "$(dirname "$0")/.."
version=$(sed -n 's/^project(Vistrel VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
deb=dist/vistrel_${version}_amd64.deb zip=dist/vistrel-$version-windows-x64.zip
fail() { echo "package: $*" >&2; exit 1; }

[ "$(unzip -Z1 "$zip" | tr '\n' ' ')" = "vistrel.exe README.txt LICENSE.txt " ] || fail "$zip holds $(unzip -Z1 "$zip")"
unzip -p "$zip" README.txt LICENSE.txt | grep -qv $'\r$' && fail "a line of README.txt or LICENSE.txt ends without CR LF"
unzip -p "$zip" vistrel.exe | /usr/bin/python3 -c '
import sys, pefile
pe, version = pefile.PE(data=sys.stdin.buffer.read()), sys.argv[1]
texts = {k.decode(): v.decode() for info in pe.FileInfo[0] if info.Key == b"StringFileInfo"
         for table in info.StringTable for k, v in table.entries.items()}
fixed = pe.VS_FIXEDFILEINFO[0]
texts["numbers"] = "%d.%d.%d" % (fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF, fixed.FileVersionLS >> 16)
if [texts.get(k) for k in ("ProductName", "ProductVersion", "FileVersion", "numbers")] != ["Vistrel"] + [version] * 3 \
        or "The Vistrel authors" not in texts.get("LegalCopyright", "") or not texts.get("FileDescription"):
    sys.exit("package: the version resource of vistrel.exe: %r" % texts)' "$version"

lintian --fail-on error,warning "$deb"
id vistrel-test >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin vistrel-test
dpkg -i "$deb" >/dev/null
trap 'dpkg --purge vistrel >/dev/null' EXIT
files=$(dpkg -L vistrel)
status=0
/usr/bin/python3 tests/e2e/run.py installed /usr/bin/vistrel || status=$?
dpkg --purge vistrel >/dev/null
trap - EXIT
if dpkg -s vistrel >/dev/null 2>&1; then fail "dpkg still knows vistrel after the purge"; fi
for path in $files; do  # what is still there belongs to another package, or is / itself
  if [ "$path" != /. ] && [ -e "$path" ] && ! dpkg -S "$path" >/dev/null 2>&1; then fail "left after the purge: $path"; fi
done
exit $status
