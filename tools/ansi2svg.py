#!/usr/bin/env python3
"""Turns a terminal capture with SGR colour sequences (tmux capture-pane -e)
into an SVG picture: one monospace cell per column, double-width characters
taking two."""
import html
import re
import sys
import unicodedata

COLS, ROWS = 80, 34
CW, CH = 9, 18
PALETTE = {30: "#1e1e1e", 31: "#cd3131", 32: "#0dbc79", 33: "#e5e510", 34: "#2472c8",
           35: "#bc3fbc", 36: "#11a8cd", 37: "#e5e5e5", 90: "#666666", 100: "#666666"}
FG, BG = "#d4d4d4", "#1e1e1e"


def width(ch):
    return 2 if unicodedata.east_asian_width(ch) in "WF" else 1


def cells(lines):
    rows = []
    for line in lines[:ROWS]:
        fg, bg, bold, rev = FG, None, False, False
        row, i = [], 0
        while i < len(line):
            m = re.match(r"\x1b\[([0-9;]*)m", line[i:])
            if m:
                for p in (m.group(1) or "0").split(";"):
                    n = int(p or 0)
                    if n == 0:
                        fg, bg, bold, rev = FG, None, False, False
                    elif n == 1:
                        bold = True
                    elif n == 22:
                        bold = False
                    elif n == 7:
                        rev = True
                    elif n == 27:
                        rev = False
                    elif n == 39:
                        fg = FG
                    elif n == 49:
                        bg = None
                    elif 30 <= n <= 37 or 90 <= n <= 97:
                        fg = PALETTE.get(n, FG)
                    elif 40 <= n <= 47 or 100 <= n <= 107:
                        bg = PALETTE.get(n - 10 if n < 100 else n, "#444444")
                i += m.end()
                continue
            ch = line[i]
            f, b = (bg or BG, fg) if rev else (fg, bg)
            row.append((ch, f, b, bold))
            if width(ch) == 2:
                row.append(None)
            i += 1
        rows.append(row)
    return rows


def main():
    lines = sys.stdin.read().split("\n")
    out = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{COLS * CW + 16}" '
           f'height="{ROWS * CH + 16}" font-family="DejaVu Sans Mono, monospace" font-size="15">',
           f'<rect width="100%" height="100%" fill="{BG}" rx="6"/>']
    for y, row in enumerate(cells(lines)):
        for x, cell in enumerate(row):
            if cell is None:
                continue
            ch, fg, bg, bold = cell
            px, py = 8 + x * CW, 8 + y * CH
            if bg:
                out.append(f'<rect x="{px}" y="{py}" width="{CW * width(ch)}" height="{CH}" fill="{bg}"/>')
            if ch != " ":
                weight = ' font-weight="bold"' if bold else ""
                out.append(f'<text x="{px}" y="{py + 14}" fill="{fg}"{weight}>{html.escape(ch)}</text>')
    out.append("</svg>")
    print("\n".join(out))


main()
