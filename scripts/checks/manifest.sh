#!/usr/bin/env bash
# Reads the application manifest back out of every shipped program
# (build/dist/{x64,x86}/*.exe, made by scripts/package.sh) and checks each
# element the programs rely on; fails naming every element that is missing
# or wrong. With arguments, checks those .exe files instead (nothing is
# built then).
#
# Usage: manifest.sh [PROGRAM.exe...]
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)

if [ $# -eq 0 ]; then
  "$here/scripts/package.sh" >/dev/null
  set -- "$here"/build/dist/x64/*.exe "$here"/build/dist/x86/*.exe
fi

# Debian's python3, where python3-pefile installs (a python3 earlier on
# PATH may be another one).
exec /usr/bin/python3 - "$@" <<'EOF'
import sys
import xml.etree.ElementTree as ET

import pefile

RT_MANIFEST = 24
ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPAT = "{urn:schemas-microsoft-com:compatibility.v1}"
WS_2005 = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"
WS_2016 = "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"
SUPPORTED_OS = {
    "Windows Vista": "{e2011457-1546-43c5-a5fe-008deee3d3f0}",
    "Windows 7": "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
    "Windows 8": "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
    "Windows 8.1": "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
    "Windows 10 and 11": "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",
}
ARCHITECTURES = {0x14C: ("*", "x86"), 0x8664: ("*", "amd64")}


def manifests(pe):
    """(id, bytes) of each RT_MANIFEST resource."""
    found = []
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return found
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if kind.id != RT_MANIFEST:
            continue
        for name in kind.directory.entries:
            for language in name.directory.entries:
                entry = language.data.struct
                data = pe.get_data(entry.OffsetToData, entry.Size)
                found.append((name.id, data))
    return found


def problems(pe, data):
    """Each missing or wrong element, named; empty when the manifest is sound."""
    try:
        root = ET.fromstring(data)
    except ET.ParseError as error:
        return ["the manifest is not well-formed XML (%s): Windows would refuse to start the program" % error]
    found = []

    def expect(path, what, attribute=None, value=None):
        element = root.find(path)
        if element is None or (attribute is not None and element.get(attribute) is None):
            found.append("missing: " + what)
        elif attribute is not None and element.get(attribute) != value:
            found.append("%s is %r, not %r" % (what, element.get(attribute), value))
        elif attribute is None and value is not None and (element.text or "").strip() != value:
            found.append("%s: %r, not %r" % (what, (element.text or "").strip(), value))

    level = ASM_V3 + "trustInfo/" + ASM_V3 + "security/" + ASM_V3 + "requestedPrivileges/" + \
        ASM_V3 + "requestedExecutionLevel"
    expect(level, "requestedExecutionLevel", "level", "asInvoker")
    expect(level, "requestedExecutionLevel's uiAccess", "uiAccess", "false")

    controls = None
    for identity in root.iterfind(ASM_V1 + "dependency/" + ASM_V1 + "dependentAssembly/" +
                                  ASM_V1 + "assemblyIdentity"):
        if identity.get("name") == "Microsoft.Windows.Common-Controls":
            controls = identity
    if controls is None:
        found.append("missing: the Microsoft.Windows.Common-Controls dependency")
    else:
        wanted = {"type": "win32", "version": "6.0.0.0", "publicKeyToken": "6595b64144ccf1df"}
        for attribute, value in wanted.items():
            if controls.get(attribute) != value:
                found.append("Common-Controls dependency: %s is %r, not %r"
                             % (attribute, controls.get(attribute), value))
        architecture = controls.get("processorArchitecture")
        if architecture not in ARCHITECTURES.get(pe.FILE_HEADER.Machine, ("*",)):
            found.append("Common-Controls dependency: processorArchitecture %r does not fit this program"
                         % architecture)

    ids = {os.get("Id", "").lower() for os in
           root.iterfind(COMPAT + "compatibility/" + COMPAT + "application/" + COMPAT + "supportedOS")}
    for name, guid in SUPPORTED_OS.items():
        if guid not in ids:
            found.append("missing: supportedOS " + name)

    settings = ASM_V3 + "application/" + ASM_V3 + "windowsSettings/"
    expect(settings + WS_2005 + "dpiAware", "dpiAware", value="true")
    expect(settings + WS_2016 + "dpiAwareness", "dpiAwareness", value="PerMonitorV2")
    # The programs work in the system's ANSI code page on purpose.
    for element in root.iter():
        if element.tag.endswith("}activeCodePage"):
            found.append("activeCodePage is set (%r): the programs must keep the system's ANSI code page"
                         % (element.text or "").strip())
    return found


failures = 0
for path in sys.argv[1:]:
    pe = pefile.PE(path)
    found = manifests(pe)
    if [name for name, _ in found] != [1]:
        print("FAIL %s: wants one manifest, id 1; has ids %s" % (path, [name for name, _ in found]))
        failures += 1
        if not found:
            continue
    wrong = problems(pe, found[0][1])
    for problem in wrong:
        print("FAIL %s: %s" % (path, problem))
    failures += len(wrong)
    if not wrong:
        print("ok   %s: asInvoker, Common-Controls 6.0.0.0, supportedOS Vista to 10/11, "
              "dpiAware true, PerMonitorV2, no activeCodePage" % path)

if failures:
    print("manifest: %d problem(s)" % failures)
    sys.exit(1)
print("manifest: %d program(s) checked" % (len(sys.argv) - 1))
EOF
