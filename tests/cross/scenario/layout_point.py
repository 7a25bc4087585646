#!/usr/bin/env python3
"""Prints the centre of a control of a window layout in the window's client coordinates.

usage: layout_point.py LAYOUT CONTROL     ->  "X Y"

A layout stores each control's Left and Top inside its parent, as the window shows them at its
designed size; the client position is the sum along the chain of parents below the form.
"""
import re
import sys


def control_centre(layout_text, wanted):
    stack = []  # (indent, name, props)
    found = {}
    for line in layout_text.splitlines():
        m = re.match(r'^(\s*)(object|inherited)\s+(\w+)\s*:\s*\w+', line)
        if m:
            indent = len(m.group(1))
            while stack and stack[-1][0] >= indent:
                stack.pop()
            props = {}
            stack.append((indent, m.group(3), props))
            found[m.group(3).lower()] = (list(stack), props)
            continue
        m = re.match(r'^\s*(Left|Top|Width|Height)\s*=\s*(-?\d+)\s*$', line)
        if m and stack:
            stack[-1][2].setdefault(m.group(1), int(m.group(2)))
    if wanted.lower() not in found:
        raise KeyError(wanted)
    chain, props = found[wanted.lower()]
    x = sum(p.get('Left', 0) for _, _, p in chain[1:])
    y = sum(p.get('Top', 0) for _, _, p in chain[1:])
    return x + props.get('Width', 0) // 2, y + props.get('Height', 0) // 2


def main():
    if len(sys.argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    with open(sys.argv[1], encoding='latin-1') as f:
        text = f.read()
    try:
        x, y = control_centre(text, sys.argv[2])
    except KeyError:
        sys.stderr.write('layout_point.py: no control %s in %s\n' % (sys.argv[2], sys.argv[1]))
        return 1
    print(x, y)
    return 0


if __name__ == '__main__':
    sys.exit(main())
