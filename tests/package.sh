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
# The manifest is resource 1 of type RT_MANIFEST, the one Windows reads when
# it starts the program; each of its declarations is printed.
unzip -p "$zip" vistrel.exe | /usr/bin/python3 -c 'import sys, pefile, xml.etree.ElementTree as ET
pe = pefile.PE(data=sys.stdin.buffer.read())
texts = pe.FileInfo[0][0].StringTable[0].entries
if (texts[b"ProductName"], texts[b"ProductVersion"]) != (b"Vistrel", sys.argv[1].encode()): sys.exit(texts)
types = {t.id: t.directory.entries for t in pe.DIRECTORY_ENTRY_RESOURCE.entries}
ids = types.get(pefile.RESOURCE_TYPE["RT_MANIFEST"], [])
if [i.id for i in ids] != [1]: sys.exit("vistrel.exe: manifest resources %s, not [1]" % [i.id for i in ids])
at = ids[0].directory.entries[0].data.struct
root = ET.fromstring(pe.get_data(at.OffsetToData, at.Size))
ns = {"v1": "urn:schemas-microsoft-com:asm.v1", "v3": "urn:schemas-microsoft-com:asm.v3",
      "os": "urn:schemas-microsoft-com:compatibility.v1", "s05": "http://schemas.microsoft.com/SMI/2005/WindowsSettings",
      "s16": "http://schemas.microsoft.com/SMI/2016/WindowsSettings"}
def find(path, get=lambda e: e.text.strip()):
    return [get(e) for e in root.findall(path, ns)]
controls = {"type": "win32", "name": "Microsoft.Windows.Common-Controls", "version": "6.0.0.0",
            "processorArchitecture": "*", "publicKeyToken": "6595b64144ccf1df", "language": "*"}
declared = [
    ("execution level", find("v3:trustInfo/v3:security/v3:requestedPrivileges/v3:requestedExecutionLevel",
                             lambda e: e.get("level")), ["asInvoker"]),
    ("supported OS", find("os:compatibility/os:application/os:supportedOS", lambda e: e.get("Id")),
     ["{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"]),  # Windows 10 and 11
    ("DPI aware", find("v3:application/v3:windowsSettings/s05:dpiAware"), ["true/pm"]),
    ("DPI awareness", find("v3:application/v3:windowsSettings/s16:dpiAwareness"), ["PerMonitorV2, PerMonitor"]),
    ("common controls", find("v1:dependency/v1:dependentAssembly/v1:assemblyIdentity", lambda e: dict(e.attrib)),
     [controls]),
]
for what, found, expected in declared:
    print("vistrel.exe manifest: %s: %s" % (what, found))
    if found != expected: sys.exit("vistrel.exe manifest: %s should be %s" % (what, expected))
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
