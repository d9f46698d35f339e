#!/usr/bin/env python3
"""Generates the ABF file layout headers from abf_file_layout.csv.

abf_file_layout.csv describes every structure of the two ABF formats once. From it:
- abf_file_layout.h: one typed, named field per row (abfformat::abf1::nADCNumChannels,
  abfformat::abf2::protocol::nOperationMode, ...), for the decoder, the writer and the
  tests' own readers and writers;
- abf_record_copies.h: the decoder's copy tables, one row per field that goes into the
  header record unchanged (or widened), with the record field's place taken from
  interface/abf_record/record-30023.csv.

Checks made here, so that a wrong row fails the build: fields of a structure do not
overlap; the ABF1 header covers its 6144 bytes exactly; every record target exists and
can take what is copied into it.

Usage: gen_layout.py LAYOUT.csv RECORD.csv OUT_LAYOUT.h OUT_COPIES.h
"""
import csv
import os
import sys

CTYPE = {'f32': 'float', 'f64': 'double', 'i8': 'int8_t', 'u8': 'uint8_t', 'i16': 'int16_t',
         'u16': 'uint16_t', 'i32': 'int32_t', 'u32': 'uint32_t', 'i64': 'int64_t', 'char': 'char'}
SIZE = {'f32': 4, 'f64': 8, 'i8': 1, 'u8': 1, 'i16': 2, 'u16': 2, 'i32': 4, 'u32': 4, 'i64': 8, 'char': 1}
KIND = {'f32': 'kF32', 'i16': 'kI16', 'u16': 'kU16', 'i32': 'kI32', 'u32': 'kU32', 'i8': 'kI8',
        'u8': 'kU8', 'char': 'kChar'}
ABF1_HEADER_BYTES = 6144


def fail(msg):
    sys.exit(f'gen_layout.py: {msg}')


def load_layout(path):
    rows = []
    with open(path, newline='') as f:
        lines = [l for l in f if not l.startswith('#')]
    for r in csv.DictReader(lines):
        t = r['type']
        if t not in CTYPE:
            fail(f"{r['struct']}.{r['name']}: unknown type {t}")
        if 'x' in r['count']:
            nrows, ncols = (int(x) for x in r['count'].split('x'))
        else:
            nrows, ncols = 1, int(r['count'])
        width = int(r['width']) if t == 'char' else SIZE[t]
        rows.append(dict(struct=r['struct'], offset=int(r['offset']), type=t, rows=nrows, cols=ncols,
                         width=width, name=r['name'], record=r['record'], copy=r['copy'],
                         table=r['table'], use=r['use'].split()))
    return rows


def load_record(path):
    fields = {}
    with open(path, newline='') as f:
        for r in csv.DictReader(f):
            count, t = int(r['count']), r['type']
            if t == 'char':
                dims = (1, count)  # texts of `width` characters
            elif count == 400:
                dims = (8, 50)
            elif count == 80:
                dims = (8, 10)
            else:
                dims = (1, count)
            fields[r['name']] = dict(offset=int(r['offset']), type=t, rows=dims[0], cols=dims[1],
                                     width=int(r['width']))
    return fields


def check_struct(name, rows):
    end = 0
    for r in sorted(rows, key=lambda r: r['offset']):
        if r['offset'] < end:
            fail(f'{name}.{r["name"]} at {r["offset"]} overlaps the field before it')
        end = r['offset'] + r['rows'] * r['cols'] * r['width']
    if name == 'abf1':
        pos = 0
        for r in rows:
            if r['offset'] != pos:
                fail(f'abf1.{r["name"]} at {r["offset"]}, expected {pos}')
            pos += r['rows'] * r['cols'] * r['width']
        if pos != ABF1_HEADER_BYTES:
            fail(f'the ABF1 header ends at {pos}, not {ABF1_HEADER_BYTES}')
    return end


def namespace_of(struct):
    if struct.startswith('abf2_'):
        return 'abf2::' + struct[len('abf2_'):]
    return struct


def copy_row(r, rec):
    target = rec.get(r['record'])
    if target is None:
        fail(f"{r['struct']}.{r['name']}: no record field {r['record']}")
    where = f"{r['struct']}.{r['name']} -> {r['record']}"
    string = 'string' in r['use']
    index = 'kKeys' if 'keys' in r['use'] else ('kKey' if 'key' in r['use'] else 'kNone')
    rows, cols = r['rows'], r['cols']
    if r['copy']:
        if rows != 1:
            fail(f'{where}: a partial copy of a table')
        cols = int(r['copy'])
    if string:
        if r['type'] not in ('i32', 'u32') or target['type'] != 'char':
            fail(f'{where}: a string index goes into a text field')
    elif (r['type'] == 'char') != (target['type'] == 'char'):
        fail(f'{where}: text and numbers do not mix')
    if r['type'] in ('f64', 'i64'):
        fail(f'{where}: the record holds no {r["type"]} field')
    integers = ('i8', 'u8', 'i16', 'u16', 'i32', 'u32')
    if not string and r['type'] != target['type'] and not (r['type'] in integers and target['type'] in integers):
        fail(f'{where}: {r["type"]} into {target["type"]}: only integers are widened or narrowed')
    tr, tc = target['rows'], target['cols']
    if index == 'kKeys':
        ok = tr > 1 and rows == 1 and cols == 1
    elif index == 'kKey':
        ok = rows == 1 and (cols <= tc if tr > 1 else cols == 1)
    else:
        ok = rows <= tr and cols <= tc
    if not ok:
        fail(f'{where}: {rows}x{cols} elements do not fit the record field ({tr}x{tc})')
    if not string and r['type'] == 'char' and r['width'] > target['width']:
        fail(f'{where}: texts of {r["width"]} characters do not fit {target["width"]}')
    return (f"    {{{r['offset']}, AbfFieldKind::{KIND[r['type']]}, {r['width']}, {r['cols']}, {rows}, {cols}, "
            f"{target['offset']}, AbfFieldKind::{KIND[target['type']]}, {target['width']}, {tr}, {tc}, "
            f"CopyIndex::{index}, {'true' if string else 'false'}}},  // {r['record']}")


def write(path, lines):
    """Replaces `path` in one step, so that a failed run leaves no half-written header."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path + '.tmp', 'w') as f:
        f.write('\n'.join(lines))
    os.replace(path + '.tmp', path)


def main():
    layout_csv, record_csv, out_layout, out_copies = sys.argv[1:5]
    rows = load_layout(layout_csv)
    rec = load_record(record_csv)
    structs = {}
    for r in rows:
        structs.setdefault(r['struct'], []).append(r)

    lay = ['// Generated from abffio/format/abf_file_layout.csv by gen_layout.py. Do not edit.',
           '#pragma once', '#include <cstdint>', '', '#include "abffio/format/abf_field.h"', '',
           'namespace abfformat {']
    for name, srows in structs.items():
        end = check_struct(name, srows)
        lay.append(f'namespace {namespace_of(name)} {{')
        for r in srows:
            lay.append(f"inline constexpr Field<{CTYPE[r['type']]}> {r['name']}{{{r['offset']}, "
                       f"{r['rows'] * r['cols']}, {r['cols']}, {r['width']}}};")
        lay.append(f'// End of the last field described.')
        lay.append(f'inline constexpr uint32_t kExtent = {end};')
        lay.append(f'}}  // namespace {namespace_of(name)}')
    lay += ['}  // namespace abfformat', '']

    cop = ['// Generated from abffio/format/abf_file_layout.csv by gen_layout.py. Do not edit.',
           '#pragma once', '', '#include "abffio/record_copy.h"', '', 'namespace abffio {']
    tables = {}
    for r in rows:
        if r['record']:
            tname = 'k' + ''.join(p.capitalize() for p in r['struct'].split('_')) + r['table'] + 'Copies'
            tables.setdefault(tname, []).append(copy_row(r, rec))
    for tname, lines in tables.items():
        cop.append(f'inline constexpr RecordCopy {tname}[] = {{')
        cop += lines
        cop.append('};')
    cop += ['}  // namespace abffio', '']

    write(out_layout, lay)
    write(out_copies, cop)


if __name__ == '__main__':
    main()
