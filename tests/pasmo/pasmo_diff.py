#!/usr/bin/env python3
# Differential test of the instruction encoder against pasmo.
#
# Every valid form that forms.txt lists (its header explains the templates) is
# assembled by orvane-asm and by pasmo, and the object bytes are compared in
# two layouts:
#  1. Slots (Intel HEX): each form at its own ORG, followed by the marker bytes
#     A5 5A and a gap of two bytes. The images are compared slot by slot, so a
#     wrong byte or a wrong length (the markers move) shows up in its own form.
#  2. Contiguous (CP/M image): the forms one after another from 0100H,
#     orvane-asm --cpm against pasmo --bin, byte for byte.
# pasmo's length of each form, from a label after it in the contiguous run,
# gives the slot sizes and the addresses of both layouts.
#
# Usage: pasmo_diff.py ORVANE_ASM PASMO FORMS
# Exit status 0 when every form agrees; 1 on any difference, and also when
# pasmo is missing or rejects a form, orvane-asm reports an error, or a
# template is mistyped.

import bisect
import itertools
import os
import re
import shutil
import subprocess
import sys
import tempfile

PLACEHOLDER = re.compile(r'\{(\w+)\}')


def expand(orv, pas, defs):
    """Yields every (Orvane, pasmo) pair of texts a template gives."""
    m, n = PLACEHOLDER.search(orv), PLACEHOLDER.search(pas)
    if not m and not n and not re.search('[{}]', orv + pas):
        yield orv, pas
        return
    if not m or not n or m[1] != n[1] or m[1] not in defs:
        sys.exit(f'FAIL: mistyped template or unknown placeholder: {orv} | {pas}')
    for o, p in defs[m[1]]:
        yield from expand(orv[:m.start()] + o + orv[m.end():], pas[:n.start()] + p + pas[n.end():], defs)


def read_forms(path):
    defs, forms, count = {}, [], None
    for line in open(path, encoding='ascii'):
        line = line.strip()
        if not line or line.startswith('#'):
            continue
        if m := re.fullmatch(r'count:\s*(\d+)', line):
            count = int(m[1])
        elif m := re.fullmatch(r'\{(\w+)\}:\s*(\S.*)', line):
            vals = m[2].split()
            if vals[0] == 'radixes':
                vals = [t for v in map(int, vals[1:]) for t in (f'{v}', f'&H{v:X}=0{v:X}h', f'&O{v:o}=#{v:X}')]
            defs[m[1]] = [v.split('=', 1) if '=' in v else [v, v] for v in vals]
        else:
            orv, _, pas = (s.strip() for s in line.partition('|'))
            forms += expand(orv, pas or orv, defs)
    if len(forms) != count:
        sys.exit(f'FAIL: {path} gives {len(forms)} forms; its count line says {count}')
    return forms


def render(text, i, addr):
    """The source lines of form i at addr: labels, addresses, escapes, indentation."""
    text = text.replace('@', str(i))
    text = re.sub(r'<(&H)?([+-]?\d+)>',
                  lambda m: (f'&H{addr + int(m[2]):X}' if m[1] else str(addr + int(m[2]))), text)
    text = text.replace('\\n', '\n').replace('\\t', '\t').replace('\\s', ' ')
    return [ln[1:] if ln.startswith('^') else ' ' * 8 + ln for ln in text.split('\n')]


def shown(form, i, addr):
    return ' | '.join(ln.strip() for ln in render(form[0], i, addr))


def assemble(lines, path, *cmd):
    """Writes the source to path and runs cmd on it; False (and why) on any error."""
    with open(path, 'w', encoding='ascii') as f:
        f.write('\n'.join(lines) + '\n')
    r = subprocess.run(cmd, capture_output=True, text=True)
    if r.returncode != 0:
        where = [f'    line {int(m[1] or m[2])}: {lines[int(m[1] or m[2]) - 1]}'
                 for m in re.finditer(r':(\d+):(?:\d+:)? error|line (\d+) of', r.stdout + r.stderr)]
        print(f'FAIL: {" ".join(cmd)}: exit status {r.returncode}\n{r.stdout}{r.stderr}' + '\n'.join(where))
    return r.returncode == 0


def layout(forms, side, addrs, head, before, after):
    lines = list(head)
    for i, (form, a) in enumerate(zip(forms, addrs)):
        lines += [s.format(a=a, i=i) for s in before] + render(form[side], i, a)
        lines += [s.format(a=a, i=i) for s in after]
    return lines + ['        END']


def hex_image(path):
    mem = bytearray(0x10000)
    for line in open(path, encoding='ascii').read().split():
        rec = bytes.fromhex(line[1:])
        if line[0] != ':' or len(rec) != rec[0] + 5 or sum(rec) % 256:
            sys.exit(f'FAIL: {path}: bad record {line}')
        if rec[3] == 0:
            a = rec[1] << 8 | rec[2]
            mem[a:a + rec[0]] = rec[4:-1]
    return mem


def compare(orvane, pasmo, forms, work):
    if not os.access(pasmo, os.X_OK):
        sys.exit(f'FAIL: pasmo is not available at {pasmo} (scripts/deps installs it)')
    w = lambda name: os.path.join(work, name)
    n = len(forms)
    # pasmo's lengths from a label after each form; the contiguous image.
    if not assemble(layout(forms, 1, [0] * n, ['        org 100h'], [], ['PE{i}:']), w('all.asm'),
                    pasmo, '--bin', w('all.asm'), w('all.bin'), w('all.sym')):
        return False
    syms = {m[1]: int(m[2], 16) for m in re.finditer(r'(\w+)\s+EQU\s+([0-9A-F]+)H', open(w('all.sym')).read())}
    ends = [syms[f'PE{i}'] for i in range(n)]
    starts = [0x100] + ends[:-1]
    lens = [e - s for s, e in zip(starts, ends)]
    slots = list(itertools.accumulate((k + 4 for k in lens), initial=0x200))
    if slots[-1] > 0xFFF0:
        sys.exit(f'FAIL: the slots do not fit into 64K (end {slots[-1]:X})')

    if not assemble(layout(forms, 1, slots, [], ['        org {a}'], ['        defb 0A5h', '        defb 5Ah']),
                    w('slots.asm'), pasmo, '--hex', w('slots.asm'), w('slots.phx')):
        return False
    # An error message on a valid form fails the test, after the comparison.
    silent = assemble(layout(forms, 0, slots, [], ['        ORG {a}'], ['        DB &HA5', '        DB 90']),
                      w('slots.z80'), orvane, '--hex', w('slots.z80'))
    silent &= assemble(layout(forms, 0, starts, [], [], []), w('all.z80'), orvane, '--cpm', w('all.z80'))

    ours, theirs = hex_image(w('slots.HEX')), hex_image(w('slots.phx'))
    # pasmo's markers must be in place, so that an empty image cannot pass.
    bad = [i for i, (a, k) in enumerate(zip(slots, lens))
           if ours[a:a + k + 4] != theirs[a:a + k + 4] or theirs[a + k:a + k + 2] != b'\xA5\x5A']
    for i in bad[:40]:
        a, width = slots[i], lens[i] + 4
        k = next((j for j in range(width) if ours[a + j] != theirs[a + j]), lens[i])
        lo = a + (0 if width <= 24 else max(0, k - 4))
        hi = min(a + width, lo + 24)
        print(f'DIFF form {i}, byte {k}: {shown(forms[i], i, a)}')
        print(f'    ours:  {ours[lo:hi].hex(" ").upper()}\n    pasmo: {theirs[lo:hi].hex(" ").upper()}')
    if len(bad) > 40:
        print(f'... and {len(bad) - 40} more differing forms')
    if not bad and ours != theirs:
        print('DIFF: the HEX images differ outside the slots')

    com, binary = open(w('all.com'), 'rb').read(), open(w('all.bin'), 'rb').read()
    if com != binary:
        k = next((j for j, (x, y) in enumerate(zip(com, binary)) if x != y), min(len(com), len(binary)))
        i = bisect.bisect_right(starts, 0x100 + k) - 1
        print(f'DIFF CP/M image: {len(com)} bytes, pasmo {len(binary)}; first difference at {0x100 + k:04X}, '
              f'form {i}: {shown(forms[i], i, starts[i])}')
    print(f'compared {n} forms against pasmo: {n - len(bad)} identical, {len(bad)} differing; '
          f'CP/M image of {len(binary)} bytes {"identical" if com == binary else "DIFFERS"}')
    return silent and not bad and ours == theirs and com == binary


if __name__ == '__main__':
    if len(sys.argv) != 4:
        sys.exit('usage: pasmo_diff.py ORVANE_ASM PASMO FORMS')
    forms = read_forms(sys.argv[3])
    work = tempfile.mkdtemp(prefix='orvane-pasmo-')
    ok = False
    try:
        ok = compare(sys.argv[1], sys.argv[2], forms, work)
    finally:
        if ok:
            shutil.rmtree(work)
        else:
            print(f'sources and outputs kept in {work}', file=sys.stderr)
    sys.exit(0 if ok else 1)
