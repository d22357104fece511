#!/usr/bin/env bash
# The release files that tools/package made in dist/. The zip holds the
# Windows program, whose version resource names the release and whose
# manifest is the project's, and texts with CR LF line
# ends. Lintian finds no error or warning in the Debian package; installed,
# its program passes the end-to-end cases (tests/e2e/installed.py), and the
# purge that follows, whatever they gave, leaves nothing of it. Run as root.
set -euo pipefail
cd "$(dirname "$0")/.."
trap 'echo "tests/package.sh: line $LINENO failed" >&2' ERR
version=$(sed -n 's/^project(Vistrel VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
deb=dist/vistrel_${version}_amd64.deb zip=dist/vistrel-$version-windows-x64.zip

[ "$(unzip -Z1 "$zip" | xargs)" = "vistrel.exe README.txt LICENSE.txt" ]
(($(unzip -p "$zip" README.txt LICENSE.txt | grep -cv $'\r$') == 0))  # every line ends in CR LF
# The manifest, as the project writes it, is resource 1 of type RT_MANIFEST
# (24), the one Windows reads when it starts the program.
unzip -p "$zip" vistrel.exe | /usr/bin/python3 -c 'import sys, pefile
pe = pefile.PE(data=sys.stdin.buffer.read())
texts = pe.FileInfo[0][0].StringTable[0].entries
if (texts[b"ProductName"], texts[b"ProductVersion"]) != (b"Vistrel", sys.argv[1].encode()): sys.exit(texts)
at = {(t.id, i.id): i.directory.entries[0].data.struct for t in pe.DIRECTORY_ENTRY_RESOURCE.entries
      for i in t.directory.entries}.get((24, 1)) or sys.exit("vistrel.exe: no manifest")
if pe.get_data(at.OffsetToData, at.Size) != open(sys.argv[2], "rb").read(): sys.exit("vistrel.exe: another manifest")
' "$version" src/platform/windows/vistrel.manifest

lintian --fail-on error,warning "$deb"
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
