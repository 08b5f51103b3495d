#!/usr/bin/env python3
"""Checks Pelvane.sys as the Windows loader and a driver reviewer would see it.

  imports  --needed FILE --defs DIR --exports DIR
      Every name the objects need from outside is in a reviewed .def list; every listed name is
      in an export table of its own DLL (mingw-w64's import library or Wine's DLL), or marked
      "; newer: <version>"; a name that only another DLL exports is in the wrong list.
  image    SYS --map MAP --sources DIR --defs DIR
      ARM64, native, checksum, no section both writable and executable, INIT discardable and
      holding the entry code, PAGE holding exactly the alloc_text(PAGE) functions, /GS linked,
      a version resource, a CodeView debug entry naming Pelvane.pdb, imports from the three
      DLLs only, each name from the list of its DLL.
  minversion INF --defs DIR
      Every models decoration of the INF's [Manufacturer] targets a Windows build no older than
      the newest routine that the import lists mark newer.
  checksum SYS
  hwids    INF [--release 1]
      The controllers' hardware IDs ([Strings] keys ending in .HwId) exist; a release refuses
      any that is still a placeholder.
Exit status 0 when everything holds; each fault is printed on its own line.
"""
import os
import re
import struct
import sys

SCN_EXECUTE, SCN_READ, SCN_WRITE, SCN_DISCARDABLE = 0x20000000, 0x40000000, 0x80000000, 0x02000000
MACHINE_ARM64, SUBSYSTEM_NATIVE = 0xAA64, 1
# Each reviewed list, by the DLL name the image imports it under.
DLLS = {"ntoskrnl.exe": "ntoskrnl", "hal.dll": "hal", "wdfldr.sys": "wdfldr"}
ENTRY_CODE = {"FxDriverEntry", "DriverEntry"}

faults = []


def fault(msg):
    faults.append(msg)
    print("FAULT: " + msg)


def read_defs(folder):
    """{list name: {routine: minimum version or None}}"""
    lists = {}
    for fn in sorted(os.listdir(folder)):
        if not fn.endswith(".def"):
            continue
        names = {}
        in_exports = False
        for line in open(os.path.join(folder, fn)):
            body, _, comment = line.partition(";")
            body = body.strip()
            if body.upper() == "EXPORTS":
                in_exports = True
            elif in_exports and body:
                m = re.search(r"newer:\s*(\S+)", comment)
                names[body.split()[0]] = m.group(1) if m else None
        lists[fn[:-4]] = names
    return lists


def read_exports(folder):
    """{list name: set of names} from NAME.mingw and NAME.wine files"""
    tables = {}
    for fn in os.listdir(folder):
        base = fn.split(".")[0]
        tables.setdefault(base, set()).update(open(os.path.join(folder, fn)).read().split())
    return tables


def check_imports(needed_file, defs_dir, exports_dir):
    lists = read_defs(defs_dir)
    tables = read_exports(exports_dir)
    listed = {n: dll for dll, names in lists.items() for n in names}
    for name in open(needed_file).read().split():
        if name not in listed:
            fault(f"the objects need {name}, which no reviewed import list holds")
    for dll, names in lists.items():
        if dll not in tables:
            continue  # the framework loader: no independent export table exists here
        for name, newer in names.items():
            if name in tables[dll] or newer:
                continue
            others = [d for d, t in tables.items() if d != dll and name in t]
            if others:
                fault(f"{name} is listed for {dll} but {others[0]} exports it")
            else:
                fault(f"{name} ({dll}) is in neither export table and not marked newer")


class Pe:
    def __init__(self, path):
        self.data = open(path, "rb").read()
        d = self.data
        self.pe = struct.unpack_from("<I", d, 0x3C)[0]
        assert d[self.pe:self.pe + 4] == b"PE\0\0", "not a PE image"
        self.machine, nsec, _, _, _, optsize, _ = struct.unpack_from("<HHIIIHH", d, self.pe + 4)
        self.opt = self.pe + 24
        assert struct.unpack_from("<H", d, self.opt)[0] == 0x20B, "not PE32+"
        self.checksum_off = self.opt + 64
        self.checksum = struct.unpack_from("<I", d, self.checksum_off)[0]
        self.subsystem = struct.unpack_from("<H", d, self.opt + 68)[0]
        self.image_base = struct.unpack_from("<Q", d, self.opt + 24)[0]
        ndirs = struct.unpack_from("<I", d, self.opt + 108)[0]
        self.dirs = [struct.unpack_from("<II", d, self.opt + 112 + 8 * i) for i in range(ndirs)]
        self.sections = []
        s = self.opt + optsize
        for i in range(nsec):
            name, vsize, va, rawsize, raw = struct.unpack_from("<8sIIII", d, s + 40 * i)
            flags = struct.unpack_from("<I", d, s + 40 * i + 36)[0]
            self.sections.append((name.rstrip(b"\0").decode(), va, max(vsize, 1), raw, flags))

    def off(self, rva):
        for _, va, size, raw, _ in self.sections:
            if va <= rva < va + size:
                return raw + rva - va
        raise ValueError(f"RVA {rva:#x} is in no section")

    def cstr(self, rva):
        o = self.off(rva)
        return self.data[o:self.data.index(b"\0", o)].decode()

    def section_of(self, rva):
        for name, va, size, _, _ in self.sections:
            if va <= rva < va + size:
                return name
        return None

    def computed_checksum(self):
        d = bytearray(self.data)
        d[self.checksum_off:self.checksum_off + 4] = b"\0\0\0\0"
        if len(d) % 2:
            d += b"\0"
        total = 0
        for (w,) in struct.iter_unpack("<H", d):
            total += w
            total = (total & 0xFFFF) + (total >> 16)
        return ((total & 0xFFFF) + (total >> 16)) + len(self.data)

    def imports(self):
        rva, _ = self.dirs[1]
        result = {}
        while rva:
            ilt, _, _, name, iat = struct.unpack_from("<IIIII", self.data, self.off(rva))
            if not name:
                break
            names = []
            t = ilt or iat
            while True:
                (entry,) = struct.unpack_from("<Q", self.data, self.off(t))
                if not entry:
                    break
                names.append(f"#{entry & 0xFFFF}" if entry >> 63 else self.cstr((entry & 0x7FFFFFFF) + 2))
                t += 8
            result[self.cstr(name)] = names
            rva += 20
        return result

    def debug_pdb_names(self):
        rva, size = self.dirs[6] if len(self.dirs) > 6 else (0, 0)
        names = []
        for i in range(size // 28 if rva else 0):
            typ, dsize, _, ptr = struct.unpack_from("<12xIIII", self.data, self.off(rva) + 28 * i)
            if typ == 2 and self.data[ptr:ptr + 4] == b"RSDS":
                names.append(self.data[ptr + 24:self.data.index(b"\0", ptr + 24)].decode())
        return names

    def resource_types(self):
        rva, _ = self.dirs[2]
        if not rva:
            return []
        o = self.off(rva)
        named, ids = struct.unpack_from("<HH", self.data, o + 12)
        return [struct.unpack_from("<I", self.data, o + 16 + 8 * i)[0] for i in range(named + ids)]


def map_symbols(map_file, image_base):
    """(rva, name) of every public symbol of an lld-link map ("0005:000000a0  Name  Rva+Base  Obj")"""
    syms = []
    for line in open(map_file):
        f = line.split()
        if len(f) >= 3 and re.fullmatch(r"[0-9a-fA-F]{4}:[0-9a-fA-F]{8}", f[0]) and \
                re.fullmatch(r"[0-9a-fA-F]{16}", f[2]):
            addr = int(f[2], 16)
            if addr >= image_base:
                syms.append((addr - image_base, f[1]))
    return syms


def paged_functions(source_dir):
    names = set()
    for base, _, files in os.walk(source_dir):
        for fn in files:
            if fn.endswith((".cpp", ".h")):
                for m in re.finditer(r"#pragma\s+alloc_text\s*\(\s*PAGE\s*,\s*([^)]*)\)",
                                     open(os.path.join(base, fn)).read()):
                    names.update(n.strip() for n in m.group(1).split(",") if n.strip())
    return names


def check_image(path, map_file, source_dir, defs_dir):
    pe = Pe(path)
    if pe.machine != MACHINE_ARM64:
        fault(f"machine {pe.machine:#x}, not ARM64")
    if pe.subsystem != SUBSYSTEM_NATIVE:
        fault(f"subsystem {pe.subsystem}, not native")
    check_checksum(pe)
    by_name = {}
    for name, va, size, _, flags in pe.sections:
        by_name[name] = flags
        if flags & SCN_WRITE and flags & SCN_EXECUTE:
            fault(f"section {name} is writable and executable")
    init = by_name.get("INIT")
    if init is None or not init & SCN_DISCARDABLE or not init & SCN_EXECUTE or not init & SCN_READ:
        fault("INIT is missing or not discardable, readable and executable")
    syms = map_symbols(map_file, pe.image_base)
    where = {n: pe.section_of(rva) for rva, n in syms}
    for fn in ENTRY_CODE:
        if where.get(fn) != "INIT":
            fault(f"{fn} is in {where.get(fn)}, not INIT")
    want = paged_functions(source_dir)
    have = {n for n, s in where.items() if s == "PAGE"}
    for fn in sorted(want - have):
        fault(f"{fn} is in alloc_text(PAGE) but in {where.get(fn)} of the image, not PAGE")
    for fn in sorted(have - want):
        fault(f"{fn} is in PAGE but no alloc_text(PAGE) names it")
    if "__security_check_cookie" not in where or "__security_cookie" not in where:
        fault("no /GS cookie support linked")
    if 16 not in pe.resource_types():
        fault("no version resource")
    if "Pelvane.pdb" not in pe.debug_pdb_names():
        fault(f"debug directory names {pe.debug_pdb_names()}, not Pelvane.pdb")
    lists = read_defs(defs_dir)
    for dll, names in pe.imports().items():
        key = DLLS.get(dll.lower())
        if key is None:
            fault(f"imports from {dll}, which is not ntoskrnl.exe, HAL.dll or WDFLDR.SYS")
            continue
        for n in names:
            if n not in lists.get(key, {}):
                fault(f"imports {n} from {dll}, whose reviewed list lacks it")


def check_checksum(pe):
    if pe.checksum == 0 or pe.checksum != pe.computed_checksum():
        fault(f"checksum {pe.checksum:#x}, computed {pe.computed_checksum():#x}")


def check_hwids(inf, release):
    ids = []
    in_strings = False
    for line in open(inf, encoding="utf-8-sig"):
        body = line.split(";")[0].strip()
        if body.startswith("["):
            in_strings = body.lower() == "[strings]"
        elif in_strings and "=" in body:
            key, value = (x.strip() for x in body.split("=", 1))
            if key.lower().endswith(".hwid"):
                ids.append((key, value.strip('"')))
    if not ids:
        fault("the INF names no controller hardware ID")
    for key, value in ids:
        if release and "PLACEHOLDER" in value.upper():
            fault(f"{key} is still a placeholder ({value}); a release needs the real ACPI ID")


def version_key(text):
    return tuple(int(x) for x in re.findall(r"\d+", text))


def check_minversion(inf, defs_dir):
    newest = max((v for names in read_defs(defs_dir).values() for v in names.values() if v),
                 key=version_key, default=None)
    targets = []
    in_manufacturer = False
    for line in open(inf, encoding="utf-8-sig"):
        body = line.split(";")[0].strip()
        if body.startswith("["):
            in_manufacturer = body.lower() == "[manufacturer]"
        elif in_manufacturer and "=" in body:
            targets += [f.strip() for f in body.split("=", 1)[1].split(",")[1:]]
    if not targets:
        fault("[Manufacturer] names no target decoration")
    for t in targets:
        m = re.fullmatch(r"NTARM64\.(\d+)\.(\d+)(?:\.\.\.(\d+))?", t, re.I)
        if not m:
            fault(f"decoration {t} is not NTARM64 with a version")
            continue
        have = (int(m.group(1)), int(m.group(2)), int(m.group(3) or 0))
        if newest and have < version_key(newest):
            fault(f"decoration {t} allows Windows older than {newest}, which an import needs")


def main(argv):
    args = {}
    pos = []
    it = iter(argv[2:])
    for a in it:
        if a.startswith("--"):
            args[a[2:]] = next(it)
        else:
            pos.append(a)
    cmd = argv[1]
    if cmd == "imports":
        check_imports(args["needed"], args["defs"], args["exports"])
    elif cmd == "image":
        check_image(pos[0], args["map"], args["sources"], args["defs"])
    elif cmd == "hwids":
        check_hwids(pos[0], args.get("release") == "1")
    elif cmd == "minversion":
        check_minversion(pos[0], args["defs"])
    elif cmd == "checksum":
        check_checksum(Pe(pos[0]))
    else:
        sys.exit(f"unknown command {cmd}")
    if faults:
        print(f"check-driver-image {cmd}: {len(faults)} fault(s)")
        return 1
    print(f"check-driver-image {cmd}: all holds")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
