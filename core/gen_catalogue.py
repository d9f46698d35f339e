#!/usr/bin/env python3
"""Generates the header catalogue's data from core/header_catalogue.csv.

Usage: gen_catalogue.py CATALOGUE.csv OUTPUT.h

The output holds one array of keys per block and the catalogue itself, each item
made by the constexpr makers of core/header_catalogue_rules.h, which resolve every
name against the record's field table at compile time. It is rewritten only when
its content changes.
"""
import os
import sys

MAKERS = {'text': 'HeaderTextField', 'textlist': 'HeaderTextList', 'short': 'HeaderShortList',
          'float': 'HeaderFloatList', 'long': 'HeaderLongList', 'byte': 'HeaderByteList'}


def items(path):
    with open(path, encoding='ascii') as f:
        for n, raw in enumerate(f, 1):
            line = raw.strip()
            if not line or line.startswith('#'):
                continue
            cols = [c.strip() for c in line.split(',')]
            if len(cols) != 4 or cols[0] not in MAKERS and cols[0] != 'block':
                sys.exit(f'{path}:{n}: expected kind,field,count,width: {line!r}')
            yield n, cols


def main(src, out):
    blocks, catalogue = [], []
    for n, (kind, field, count, width) in items(src):
        if kind == 'block':
            names = field.split()
            blocks.append('inline constexpr HeaderBlockKey kHeaderBlock%d[] = {\n%s\n};' % (
                len(blocks) + 1, '\n'.join('    HeaderKey("%s"),' % k for k in names)))
            catalogue.append('HeaderBlock(kHeaderBlock%d)' % len(blocks))
            continue
        args = ['"%s"' % field] + [v for v in (count, width) if v]
        catalogue.append('%s(%s)' % (MAKERS[kind], ', '.join(args)))
    text = '\n'.join([
        '// Generated from core/header_catalogue.csv by core/gen_catalogue.py. Do not edit.',
        '#pragma once', '', '\n'.join(blocks), '',
        'inline constexpr int kHeaderItemCount = %d;' % len(catalogue),
        'inline constexpr HeaderItem kHeaderCatalogue[kHeaderItemCount] = {',
        '\n'.join('    %s,  // %d' % (c, i + 1) for i, c in enumerate(catalogue)),
        '};', ''])
    if os.path.exists(out) and open(out).read() == text:
        return
    os.makedirs(os.path.dirname(out), exist_ok=True)
    with open(out, 'w') as f:
        f.write(text)


if __name__ == '__main__':
    main(*sys.argv[1:])
