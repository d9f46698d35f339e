#!/usr/bin/env python3
"""Checks the built Windows plug-in file with a small PE reader of its own.

Usage: pe_check.py PLUGIN.xop GENERATED_DIR RESOURCES_DIR [32|64]

Checks, for the 32-bit build (the default) or the 64-bit one: a PE32 DLL for
i386 or a PE32+ DLL for AMD64; exactly two exports (ordinal 1 XOPMain, decorated
in the 32-bit build, plain in the 64-bit one; ordinal 2 main; one address);
ABFFIO.dll and OLEAUT32.dll imported by ordinal only (OLEAUT32: 61 and 274); the
host's functions by name from IGOR.exe or Igor64.exe; the custom resources
(language 1033) equal to the generated files; the version resource's fixed part
and strings.
"""
import os
import struct
import sys

failures = []


def check(cond, what):
    if not cond:
        failures.append(what)
    return cond


class PE:
    def __init__(self, data):
        self.data = data
        check(data[:2] == b"MZ", "DOS signature")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        check(data[pe:pe + 4] == b"PE\0\0", "PE signature")
        coff = pe + 4
        self.machine, nsections, _, _, _, opt_size, self.characteristics = struct.unpack_from(
            "<HHIIIHH", data, coff)
        opt = coff + 20
        self.magic = struct.unpack_from("<H", data, opt)[0]
        # PE32+ (0x20B) has a 64-bit image base and stack sizes: its directories start 16 bytes later.
        self.wide = self.magic == 0x20B
        dirs = opt + (112 if self.wide else 96)
        ndirs = struct.unpack_from("<I", data, dirs - 4)[0]
        self.dirs = [struct.unpack_from("<II", data, dirs + 8 * i) for i in range(ndirs)]
        self.sections = []
        sec = opt + opt_size
        for i in range(nsections):
            name, vsize, va, rawsize, rawptr = struct.unpack_from("<8sIIII", data, sec + 40 * i)
            self.sections.append((name.rstrip(b"\0"), va, max(vsize, rawsize), rawptr, rawsize))

    def off(self, rva):
        for _, va, size, rawptr, rawsize in self.sections:
            if va <= rva < va + size:
                if rva - va >= rawsize:
                    raise ValueError(f"RVA {rva:#x} in uninitialised data")
                return rawptr + rva - va
        raise ValueError(f"RVA {rva:#x} outside every section")

    def u16(self, rva):
        return struct.unpack_from("<H", self.data, self.off(rva))[0]

    def u32(self, rva):
        return struct.unpack_from("<I", self.data, self.off(rva))[0]

    def cstr(self, rva):
        o = self.off(rva)
        end = self.data.index(b"\0", o)
        return self.data[o:end].decode("latin-1")

    def exports(self):
        rva, size = self.dirs[0]
        if not rva:
            return 0, {}, []
        (_, _, _, _, _, base, nfuncs, nnames, funcs, names, ords) = struct.unpack_from(
            "<IIHHIIIIIII", self.data, self.off(rva))
        addresses = [self.u32(funcs + 4 * i) for i in range(nfuncs)]
        named = {}
        for i in range(nnames):
            named[self.cstr(self.u32(names + 4 * i))] = self.u16(ords + 2 * i) + base
        return base, named, addresses

    def imports(self):
        rva, _ = self.dirs[1]
        result = {}
        while True:
            ilt, _, _, name, iat = struct.unpack_from("<IIIII", self.data, self.off(rva))
            if not name:
                break
            entries = []
            thunk = ilt or iat
            # Thunks are pointer-wide; the top bit flags an import by ordinal.
            width, flag = (8, 1 << 63) if self.wide else (4, 1 << 31)
            while True:
                v = self.u32(thunk) | (self.u32(thunk + 4) << 32 if self.wide else 0)
                if not v:
                    break
                if v & flag:
                    entries.append(("ordinal", v & 0xFFFF))
                else:
                    entries.append(("name", self.cstr((v & 0x7FFFFFFF) + 2)))
                thunk += width
            result[self.cstr(name)] = entries
            rva += 20
        return result

    def resources(self):
        """{(type, id, language): bytes}; type and id are ints or strings."""
        root, _ = self.dirs[2]
        out = {}

        def entries(dir_rva):
            named, ids = struct.unpack_from("<HH", self.data, self.off(dir_rva) + 12)
            for i in range(named + ids):
                n, target = struct.unpack_from("<II", self.data, self.off(dir_rva) + 16 + 8 * i)
                if n & 0x80000000:
                    so = self.off(root + (n & 0x7FFFFFFF))
                    length = struct.unpack_from("<H", self.data, so)[0]
                    key = self.data[so + 2:so + 2 + 2 * length].decode("utf-16-le")
                else:
                    key = n
                yield key, target

        for rtype, t in entries(root):
            for rid, i in entries(root + (t & 0x7FFFFFFF)):
                for lang, leaf in entries(root + (i & 0x7FFFFFFF)):
                    data_rva, size = struct.unpack_from("<II", self.data, self.off(root + leaf))
                    o = self.off(data_rva)
                    out[(rtype, rid, lang)] = self.data[o:o + size]
        return out


def parse_version(block):
    """The fixed info and {key: value} of the string tables of a VS_VERSIONINFO block."""
    strings = {}
    translations = []

    def node(at):
        length, vlen, vtype = struct.unpack_from("<HHH", block, at)
        key_end = at + 6
        while block[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = block[at + 6:key_end].decode("utf-16-le")
        value_at = (key_end + 2 + 3) & ~3
        value_size = vlen * 2 if vtype == 1 else vlen
        children_at = (value_at + value_size + 3) & ~3
        return length, key, vtype, vlen, value_at, children_at

    def children(start, end):
        at = start
        while at < end:
            length = struct.unpack_from("<H", block, at)[0]
            if length == 0:
                break
            yield at
            at = (at + length + 3) & ~3

    length, key, _, vlen, value_at, kids = node(0)
    check(key == "VS_VERSION_INFO", "version block key")
    fixed = struct.unpack_from("<13I", block, value_at) if vlen >= 52 else None
    for child in children(kids, length):
        clen, ckey, _, _, _, ckids = node(child)
        if ckey == "StringFileInfo":
            for table in children(ckids, child + clen):
                tlen, tkey, _, _, _, tkids = node(table)
                for s in children(tkids, table + tlen):
                    _, skey, _, svlen, svalue, _ = node(s)
                    text = block[svalue:svalue + 2 * svlen].decode("utf-16-le").rstrip("\0")
                    strings[(tkey.lower(), skey)] = text
        elif ckey == "VarFileInfo":
            for var in children(ckids, child + clen):
                _, vkey, _, vvlen, vvalue, _ = node(var)
                if vkey == "Translation":
                    translations += [struct.unpack_from("<HH", block, vvalue + 4 * i)
                                     for i in range(vvlen // 4)]
    return fixed, strings, translations


EXPECTED_STRINGS = {
    "FileDescription": "kav_Sorvan is an Igor Pro extension.",
    "Comments": "kav_Sorvan is an Igor Pro extensions.",
    "FileVersion": "0, 0, 0, 12",
    "ProductVersion": "0, 0, 0, 12",
    "InternalName": "kav_Sorvan",
    "OriginalFilename": "kav_Sorvan.xop",
    "ProductName": "Igor Pro kav_Sorvan",
    "LegalTrademarks": "",
    "PrivateBuild": "",
    "SpecialBuild": "",
}
HOST_FUNCTIONS = {"NewHandle", "SetHandleSize", "GetHandleSize", "DisposeHandle", "PtrToHand",
                  "MemError", "GetIgorModule", "GetIgorClientHWND"}


# What differs between the two builds.
BUILDS = {
    "32": {"machine": 0x14C, "magic": 0x10B, "entry": "?XOPMain@@YAHPAPAUIORec@@@Z", "host": "IGOR.exe",
           "runtime": ("libstdc++-6.dll", "libgcc_s_dw2-1.dll", "libwinpthread-1.dll")},
    "64": {"machine": 0x8664, "magic": 0x20B, "entry": "XOPMain", "host": "Igor64.exe",
           "runtime": ("libstdc++-6.dll", "libgcc_s_seh-1.dll", "libwinpthread-1.dll")},
}


def main():
    if len(sys.argv) not in (4, 5):
        sys.exit(__doc__)
    plugin, generated, _ = sys.argv[1:4]
    build = BUILDS[sys.argv[4] if len(sys.argv) == 5 else "32"]
    with open(plugin, "rb") as f:
        pe = PE(f.read())

    check(pe.machine == build["machine"], f"machine {build['machine']:#x} (got {pe.machine:#x})")
    check(pe.magic == build["magic"], f"optional header {build['magic']:#x} (got {pe.magic:#x})")
    check(pe.characteristics & 0x2000, "DLL flag")

    base, named, addresses = pe.exports()
    check(base == 1, f"export ordinal base 1 (got {base})")
    check(named == {build["entry"]: 1, "main": 2}, f"exports {named}")
    check(len(addresses) == 2 and addresses[0] == addresses[1] != 0,
          f"both exports at one address {addresses}")

    imports = {k.lower(): (k, v) for k, v in pe.imports().items()}
    check("abffio.dll" in imports, "imports ABFFIO.dll")
    if "abffio.dll" in imports:
        abf = imports["abffio.dll"][1]
        check(abf and all(kind == "ordinal" for kind, _ in abf), f"ABFFIO.dll by ordinal only: {abf}")
        allowed = {110, 140, 150, 160, 210, 250, 270, 340, 350, 360, 470}
        check({o for _, o in abf} <= allowed, f"ABFFIO.dll ordinals {sorted(o for _, o in abf)}")
    if "oleaut32.dll" in imports:
        ole = imports["oleaut32.dll"][1]
        check(ole and all(kind == "ordinal" for kind, _ in ole), f"OLEAUT32.dll by ordinal only: {ole}")
        check({o for _, o in ole} <= {61, 274}, f"OLEAUT32.dll ordinals {ole}")
    host = build["host"]
    igor = imports.get(host.lower())
    check(set(imports) & {"igor.exe", "igor64.exe"} == {host.lower()}, f"imports from {host} only")
    if check(igor is not None and igor[0] == host, f"imports from {host}"):
        names = {n for kind, n in igor[1] if kind == "name"}
        check(all(kind == "name" for kind, _ in igor[1]), f"{host} by name")
        check(names <= HOST_FUNCTIONS, f"{host} imports {sorted(names)}")
        check({"SetHandleSize", "MemError"} <= names, f"{host} imports the record resize")
    for dll in build["runtime"]:
        check(dll not in imports, f"no runtime DLL {dll}")

    res = pe.resources()
    for rtype, fname in (("XOPF", "xopf.bin"), ("XOPI", "xopi.bin"), ("STR#", "strs.bin")):
        with open(os.path.join(generated, fname), "rb") as f:
            expected = f.read()
        got = res.get((rtype, 1100, 1033))
        check(got == expected, f"resource {rtype} 1100/1033 equals {fname}")
        check([k for k in res if k[0] == rtype] == [(rtype, 1100, 1033)],
              f"{rtype} only as 1100/1033: {[k for k in res if k[0] == rtype]}")

    version = res.get((16, 1, 1033))
    if check(version is not None, "version resource 1 in language 1033"):
        fixed, strings, translations = parse_version(version)
        if check(fixed is not None, "fixed version info"):
            (sig, _, fms, fls, pms, pls, mask, flags, fos, ftype, fsub, _, _) = fixed
            check(sig == 0xFEEF04BD, "fixed info signature")
            check((fms, fls, pms, pls) == (0, 12, 0, 12), f"version 0.0.0.12 {(fms, fls, pms, pls)}")
            check(mask == 0x3F and flags == 0, f"flags mask {mask:#x} flags {flags:#x}")
            check(fos == 0x40004 and ftype == 2 and fsub == 0, f"os {fos:#x} type {ftype} subtype {fsub}")
        tables = {t for t, _ in strings}
        check(tables == {"040904b0"}, f"one string table 040904b0: {tables}")
        got = {k: v for (_, k), v in strings.items()}
        check(got == EXPECTED_STRINGS, f"version strings {got}")
        check(translations == [(0x0409, 0x04B0)], f"translation {translations}")

    if failures:
        for f in failures:
            print("FAIL:", f)
        sys.exit(1)
    print(f"{os.path.basename(plugin)} PE checks passed")


if __name__ == "__main__":
    main()
