#!/usr/bin/env python3
"""Builds Quillon's built-in fax font (faxfont.bin) from Terminus Font console fonts.

Run once; the output is committed, so builds never need the source package.

    apt-get download console-setup-linux
    dpkg-deb -x console-setup-linux_*.deb pkg
    python3 data/fonts/make_fax_font.py pkg/usr/share/consolefonts data/fonts/faxfont.bin

Layout of faxfont.bin (16384 bytes): 256 small glyphs (12x8 cells, 2 bytes per
row, 8 rows, 16 bytes each) followed by 256 standard glyphs (20x16 cells,
3 bytes per row, 16 rows, 48 bytes each). Rows run top to bottom, the most
significant bit of a row's first byte is the leftmost pixel, 1 is black.
Glyphs are indexed by character code: ISO 8859-1, with the printable
Windows-1252 characters in 0x80-0x9F; codes without a glyph stay blank.

A fax pixel at standard resolution is about twice as tall as it is wide, so
each source pixel becomes two fax pixels side by side:
- standard: Terminus 8x16 -> 16x16, centred in the 20-pixel cell;
- small: Terminus 6x12 -> 12 pixels wide, its 12 rows folded into 8 by
  OR-ing fixed groups of rows: the accent rows join the capital top, the two
  lower body rows (nearly always equal) become one, and so do the two
  descender rows, so every glyph keeps the same baseline.
"""
import gzip
import struct
import sys

CP1252_HIGH = {
    0x80: 0x20AC, 0x82: 0x201A, 0x83: 0x0192, 0x84: 0x201E, 0x85: 0x2026, 0x86: 0x2020, 0x87: 0x2021,
    0x88: 0x02C6, 0x89: 0x2030, 0x8A: 0x0160, 0x8B: 0x2039, 0x8C: 0x0152, 0x8E: 0x017D, 0x91: 0x2018,
    0x92: 0x2019, 0x93: 0x201C, 0x94: 0x201D, 0x95: 0x2022, 0x96: 0x2013, 0x97: 0x2014, 0x98: 0x02DC,
    0x99: 0x2122, 0x9A: 0x0161, 0x9B: 0x203A, 0x9C: 0x0153, 0x9E: 0x017E, 0x9F: 0x0178,
}


def code_to_unicode(code):
    if code < 0x20 or code == 0x7F:
        return None
    if 0x80 <= code <= 0x9F:
        return CP1252_HIGH.get(code)
    return code


def read_psf(path):
    """Returns (width, height, {codepoint: [row bit strings]}) of a PSF1/PSF2 font."""
    data = gzip.open(path).read() if path.endswith(".gz") else open(path, "rb").read()
    if data[:2] == b"\x36\x04":
        mode, height = data[2], data[3]
        count, width, size, pos = (512 if mode & 1 else 256), 8, height, 4
        has_table = bool(mode & 2)
        psf2 = False
    elif struct.unpack_from("<I", data)[0] == 0x864AB572:
        _, _, hdr, flags, count, size, height, width = struct.unpack_from("<8I", data)
        pos, has_table, psf2 = hdr, bool(flags & 1), True
    else:
        raise SystemExit(f"{path}: not a PSF font")
    row_bytes = (width + 7) // 8
    glyphs = []
    for i in range(count):
        g = data[pos + i * size:pos + (i + 1) * size]
        rows = []
        for r in range(height):
            bits = int.from_bytes(g[r * row_bytes:(r + 1) * row_bytes], "big")
            rows.append([(bits >> (row_bytes * 8 - 1 - c)) & 1 for c in range(width)])
        glyphs.append(rows)
    pos += count * size
    cmap = {}
    if not has_table:
        for i in range(min(count, 256)):
            cmap[i] = glyphs[i]
        return width, height, cmap
    for i in range(count):
        if psf2:
            end = data.index(b"\xff", pos)
            for part in data[pos:end].split(b"\xfe")[0:1]:
                for ch in part.decode("utf-8"):
                    cmap.setdefault(ord(ch), glyphs[i])
            pos = end + 1
        else:
            while True:
                (u,) = struct.unpack_from("<H", data, pos)
                pos += 2
                if u == 0xFFFF:
                    break
                if u == 0xFFFE:
                    continue
                cmap.setdefault(u, glyphs[i])
    return width, height, cmap


def pack(rows, cell_width, row_bytes):
    out = bytearray()
    for row in rows:
        bits = 0
        for c in range(cell_width):
            bits = (bits << 1) | (row[c] if c < len(row) else 0)
        bits <<= row_bytes * 8 - cell_width
        out += bits.to_bytes(row_bytes, "big")
    return bytes(out)


def widen(row, left, cell_width):
    out = [0] * cell_width
    for c, b in enumerate(row):
        for k in (0, 1):
            x = left + 2 * c + k
            if b and 0 <= x < cell_width:
                out[x] = 1
    return out


def standard_glyph(src):
    return pack([widen(r, 2, 20) for r in src], 20, 3)


# Source rows of the 6x12 font that make each of the 8 output rows.
SMALL_ROW_GROUPS = [(0, 1, 2), (3,), (4,), (5,), (6,), (7, 8), (9,), (10, 11)]


def small_glyph(src):
    rows = []
    for group in SMALL_ROW_GROUPS:
        merged = [0] * len(src[0])
        for r in group:
            merged = [a | b for a, b in zip(merged, src[r])]
        rows.append(widen(merged, 0, 12))
    return pack(rows, 12, 2)


def main():
    if len(sys.argv) != 3:
        raise SystemExit("usage: make_fax_font.py CONSOLEFONTS_DIR OUT.bin")
    folder, out = sys.argv[1], sys.argv[2]
    w16, h16, std = read_psf(folder + "/Lat15-Terminus16.psf.gz")
    w12, h12, sml = read_psf(folder + "/Lat15-Terminus12x6.psf.gz")
    assert (w16, h16) == (8, 16) and (w12, h12) == (6, 12), "unexpected source font sizes"
    small, standard = bytearray(), bytearray()
    missing = []
    for code in range(256):
        u = code_to_unicode(code)
        if u is None or u not in std or u not in sml:
            small += bytes(16)
            standard += bytes(48)
            if u is not None:
                missing.append(code)
            continue
        small += small_glyph(sml[u])
        standard += standard_glyph(std[u])
    data = bytes(small + standard)
    assert len(data) == 16384
    open(out, "wb").write(data)
    if missing:
        print("no glyph for codes:", " ".join(f"{c:02X}" for c in missing))


if __name__ == "__main__":
    main()
