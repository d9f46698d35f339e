#!/usr/bin/env python3
"""Generates the C++ declarations of the ABF header record from its layout tables.

The two CSV files beside this script are the only description of the record:
record-11335.csv is the record the plug-in hands to the library, record-30023.csv
the library's own, larger form. Columns: offset,type,count,width,name. Numeric
arrays of 80 (400) elements are [8][10] ([8][50]) tables, indexed by DAC and epoch;
for char fields count is the number of texts and width the characters per text.

Output: one header with both packed structs (every offset checked at compile
time) and a field table per layout for by-name access.
"""
import csv, sys, os

CTYPE = {'f32': 'float', 'i16': 'int16_t', 'u16': 'uint16_t', 'i32': 'int32_t',
         'u32': 'uint32_t', 'i8': 'int8_t', 'u8': 'uint8_t', 'char': 'char'}
KIND = {'f32': 'kF32', 'i16': 'kI16', 'u16': 'kU16', 'i32': 'kI32', 'u32': 'kU32',
        'i8': 'kI8', 'u8': 'kU8', 'char': 'kChar'}


def load(path):
    rows = []
    with open(path, newline='') as f:
        for r in csv.DictReader(f):
            off, count, width = int(r['offset']), int(r['count']), int(r['width'])
            t = r['type']
            if t == 'char':
                dims = [count, width] if count > 1 else [width]
                elems, cols = count, width
            else:
                if count == 80:
                    dims = [8, 10]
                elif count == 400:
                    dims = [8, 50]
                else:
                    dims = [count] if count > 1 else []
                elems = count
            size = count * width
            rows.append(dict(offset=off, type=t, count=count, width=width,
                             name=r['name'], dims=dims, size=size))
    # contiguity check: the table must describe every byte exactly once
    pos = 0
    for r in rows:
        if r['offset'] != pos:
            sys.exit(f"{path}: {r['name']} at {r['offset']}, expected {pos}")
        pos += r['size']
    return rows, pos


def struct(name, rows, total, out):
    out.append(f'struct {name} {{')
    for r in rows:
        d = ''.join(f'[{n}]' for n in r['dims'])
        out.append(f"    {CTYPE[r['type']]} {r['name']}{d};")
    out.append('};')
    out.append(f'static_assert(sizeof({name}) == {total}, "{name} size");')
    for r in rows:
        out.append(f"static_assert(offsetof({name}, {r['name']}) == {r['offset']}, "
                   f"\"{name}.{r['name']}\");")
    out.append('')


def table(name, rows, out):
    out.append(f'inline constexpr AbfFieldInfo {name}[] = {{')
    for r in rows:
        dims = r['dims'] if r['type'] != 'char' else r['dims'][:-1]
        rws, cols = (dims + [1, 1])[:2] if len(dims) == 2 else ((1, dims[0]) if dims else (1, 1))
        out.append(f"    {{\"{r['name']}\", {r['offset']}, AbfFieldKind::{KIND[r['type']]}, "
                   f"{rws}, {cols}, {r['width']}}},")
    out.append('};')
    out.append('')


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out_path = sys.argv[1]
    small, small_size = load(os.path.join(here, 'record-11335.csv'))
    full, full_size = load(os.path.join(here, 'record-30023.csv'))
    out = ['// Generated from interface/abf_record/record-*.csv by gen_record.py. Do not edit.',
           '#pragma once', '#include <cstddef>', '#include <cstdint>', '',
           f'inline constexpr std::size_t kAbfRecordSize = {small_size};',
           f'inline constexpr std::size_t kAbfLibraryRecordSize = {full_size};', '',
           'enum class AbfFieldKind : std::uint8_t { kF32, kI16, kU16, kI32, kU32, kI8, kU8, kChar };',
           '',
           '// One field of a record layout. rows x cols elements of `width` bytes each;',
           '// for text fields rows x cols texts of `width` characters.',
           'struct AbfFieldInfo {',
           '    const char* name;',
           '    std::uint32_t offset;',
           '    AbfFieldKind kind;',
           '    std::uint16_t rows, cols, width;',
           '};', '',
           '#pragma pack(push, 1)',
           '// The header record in the 11335-byte layout that callers hand to the library.']
    struct('ABFFileHeader', small, small_size, out)
    out.append("// The library's own 30023-byte form of the same record (50 epochs, 24 statistics regions).")
    struct('ABFLibraryHeader', full, full_size, out)
    out.append('#pragma pack(pop)')
    out.append('')
    table('kAbfRecordFields', small, out)
    table('kAbfLibraryRecordFields', full, out)
    tmp = out_path + '.tmp'
    with open(tmp, 'w') as f:
        f.write('\n'.join(out))
    os.replace(tmp, out_path)


if __name__ == '__main__':
    main()
