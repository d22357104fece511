#!/usr/bin/env bash
# The release files that tools/package made in dist/. The zip holds the
# Windows program, whose version resource names the release and whose
# manifest declares what Windows must know of it, and texts with CR LF line
# ends. Lintian finds no error or warning in the Debian package; installed,
# its program passes the end-to-end cases as an ordinary user
# (tests/e2e/installed.py, whose user this makes if absent), and the purge
# that follows, whatever they gave, leaves nothing of it. Run as root.
set -euo pipefail
cd "$(dirname "$0")/.."
trap 'echo "tests/package.sh: line $LINENO failed" >&2' ERR
version=$(sed -n 's/^project(Vistrel VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
deb=dist/vistrel_${version}_amd64.deb zip=dist/vistrel-$version-windows-x64.zip

[ "$(unzip -Z1 "$zip" | xargs)" = "vistrel.exe README.txt LICENSE.txt" ]
(($(unzip -p "$zip" README.txt LICENSE.txt | grep -cv $'\r$') == 0))  # every line ends in CR LF
# The manifest is resource 1 of type RT_MANIFEST (24), the one Windows reads
# when it starts the program; each of its declarations is printed.
unzip -p "$zip" vistrel.exe | /usr/bin/python3 -c 'import sys, pefile, xml.etree.ElementTree as ET
pe = pefile.PE(data=sys.stdin.buffer.read())
texts = pe.FileInfo[0][0].StringTable[0].entries
if (texts[b"ProductName"], texts[b"ProductVersion"]) != (b"Vistrel", sys.argv[1].encode()): sys.exit(texts)
at = {(t.id, i.id): i.directory.entries[0].data.struct for t in pe.DIRECTORY_ENTRY_RESOURCE.entries
      for i in t.directory.entries}.get((24, 1)) or sys.exit("vistrel.exe: no manifest")
found = {e.tag.split("}")[-1]: " ".join(e.attrib.values()) or (e.text or "").strip()
         for e in ET.fromstring(pe.get_data(at.OffsetToData, at.Size)).iter()}
for name, value in [("requestedExecutionLevel", "asInvoker false"), ("dpiAware", "true/pm"),
                    ("supportedOS", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"),  # Windows 10 and 11
                    ("dpiAwareness", "PerMonitorV2, PerMonitor"),
                    ("assemblyIdentity", "win32 Microsoft.Windows.Common-Controls 6.0.0.0 * 6595b64144ccf1df *")]:
    print("vistrel.exe manifest: %s: %s" % (name, found.get(name)))
    found.get(name) == value or sys.exit("vistrel.exe manifest: %s should be %s" % (name, value))
' "$version"

lintian --fail-on error,warning "$deb"
id vistrel-test >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin vistrel-test
trap 'dpkg --purge vistrel >/dev/null' EXIT
dpkg -i "$deb" >/dev/null
files=$(dpkg -L vistrel | grep -vx /.)
/usr/bin/python3 tests/e2e/run.py installed /usr/bin/vistrel || status=$?
dpkg --purge vistrel >/dev/null
trap - EXIT
for path in $files; do  # what is still there must belong to another package
  [ ! -e "$path" ] || dpkg -S "$path" >/dev/null
done
exit "${status:-0}"
