#!/usr/bin/env python3
"""Keeps package/Pelvane.vcxproj true to the tree, since it cannot be built here: its sources and
headers are exactly driver/**/*.cpp and driver/**/*.h, it lists nothing of package/stub/ (the
Linux link's own), every file it names exists, and it keeps the settings a WDK build of the driver
needs (ARM64 only, KMDF 1.15, WPP over the trace header, the manifest through mc -km, the INF).

Usage: check-wdk-project.py [VCXPROJ] [ROOT]    exit 0 when all holds, one line per fault
"""
import glob
import os
import sys
import xml.etree.ElementTree as ET

NS = "{http://schemas.microsoft.com/developer/msbuild/2003}"
SETTINGS = {
    "PlatformToolset": "WindowsKernelModeDriver10.0",
    "ConfigurationType": "Driver",
    "DriverType": "KMDF",
    "KMDF_VERSION_MAJOR": "1",
    "KMDF_VERSION_MINOR": "15",
    "BufferSecurityCheck": "true",
    "WppEnabled": "true",
    "WppKernelMode": "true",
    "WppScanConfigurationData": "..\\driver\\frame\\Trace.h",
    "GenerateKernelModeLoggingMacros": "true",
}


def main(argv):
    proj = argv[1] if len(argv) > 1 else "package/Pelvane.vcxproj"
    root = argv[2] if len(argv) > 2 else "."
    base = os.path.dirname(proj)
    tree = ET.parse(proj).getroot()
    faults = []

    def items(kind):
        return [e.get("Include") for e in tree.iter(NS + kind) if e.get("Include")]

    def tree_path(include):  # a project path, relative to the project's folder, as a tree path
        return os.path.relpath(os.path.normpath(os.path.join(base, include.replace("\\", "/"))), root)

    for kind, pattern in (("ClCompile", "*.cpp"), ("ClInclude", "*.h")):
        listed = [tree_path(i) for i in items(kind) if i]
        have = sorted(os.path.relpath(p, root)
                      for p in glob.glob(os.path.join(root, "driver", "**", pattern), recursive=True))
        for p in sorted(set(have) - set(listed)):
            faults.append(f"{p} is in the tree but not in the project's {kind} items")
        for p in sorted(set(listed) - set(have)):
            faults.append(f"{p} is a {kind} item of the project but not a driver file in the tree")
        for p in sorted({p for p in listed if listed.count(p) > 1}):
            faults.append(f"{p} is listed twice")
    for kind in ("MessageCompile", "ResourceCompile", "Inf", "ClCompile", "ClInclude"):
        for i in items(kind):
            if i and not os.path.isfile(os.path.join(root, tree_path(i))):
                faults.append(f"{kind} item {i} names no file")
            if i and tree_path(i).startswith("package" + os.sep + "stub"):
                faults.append(f"{i} is the Linux link's own and must not be in the WDK build")
    for kind, want in (("MessageCompile", "driver/Pelvane.man"), ("ResourceCompile", "package/Pelvane.rc"),
                       ("Inf", "package/Pelvane.inf")):
        if os.path.normpath(want) not in [tree_path(i) for i in items(kind)]:
            faults.append(f"no {kind} item for {want}")
    for name, value in SETTINGS.items():
        found = [e.text for e in tree.iter(NS + name)]
        if found != [value] * len(found) or not found:
            faults.append(f"setting {name} is {found or 'absent'}, not {value}")
    platforms = {e.text for e in tree.iter(NS + "Platform")}
    if platforms != {"ARM64"}:
        faults.append(f"platforms {sorted(platforms)}, not ARM64 only")

    for f in faults:
        print("FAULT: " + f)
    print(f"check-wdk-project: {len(faults)} fault(s)" if faults else "check-wdk-project: all holds")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
