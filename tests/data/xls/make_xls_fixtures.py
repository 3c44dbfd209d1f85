#!/usr/bin/python3
"""Builds the .xls test workbooks in tests/data/xls. Run once with Debian's python3; the
outputs are kept in the repository, so the tests need neither LibreOffice nor xlwt to read
them.

Most files are written record by record here ([MS-XLS] records in an [MS-CFB] compound file
laid out by this script), so that each case the reader must handle appears exactly as meant:
every cause FreeXL refused a real workbook for, and the values, formats and layout the reader
must keep. With python3-xlwt installed, xlwt.xls is written by xlwt; with LibreOffice
(soffice) installed, libreoffice.xls is converted from libreoffice_source.xlsx, which
openpyxl writes (python3-openpyxl).

    python3 tests/data/xls/make_xls_fixtures.py
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))

# ---------------------------------------------------------------- compound file

FREE, END, FATSECT = 0xFFFFFFFF, 0xFFFFFFFE, 0xFFFFFFFD
NOSTREAM = 0xFFFFFFFF


def compound_file(streams, truncate_padding=False):
    """streams: list of (name, bytes). Streams under 4096 bytes go to the mini stream in the
    order given; the others get normal sectors, laid out last, in the order given. With
    truncate_padding the zero padding of the last sector is cut off (a file that is not a
    whole number of sectors)."""
    small = [(n, d) for n, d in streams if len(d) < 4096]
    big = [(n, d) for n, d in streams if len(d) >= 4096]

    # Mini stream: each small stream padded to 64 bytes.
    mini = b""
    mini_fat = []
    mini_start = {}
    for name, data in small:
        count = (len(data) + 63) // 64
        start = len(mini) // 64
        mini_start[name] = start if count else END
        for i in range(count):
            mini_fat.append(start + i + 1 if i + 1 < count else END)
        mini += data + b"\0" * (count * 64 - len(data))

    sectors = []  # list of 512-byte blobs
    fat = []

    def place(blob):
        count = (len(blob) + 511) // 512
        first = len(sectors)
        for i in range(count):
            sectors.append(blob[i * 512:(i + 1) * 512].ljust(512, b"\0"))
            fat.append(first + i + 1 if i + 1 < count else END)
        return first if count else END

    mini_fat_bytes = b"".join(struct.pack("<I", v) for v in mini_fat)
    if mini_fat_bytes:
        mini_fat_bytes += struct.pack("<I", FREE) * ((512 - len(mini_fat_bytes) % 512) % 512 // 4)
    mini_fat_start = place(mini_fat_bytes)
    mini_container_start = place(mini)

    # Directory: root, then every stream as the right sibling of the one before.
    names = [n for n, _ in streams]
    entries = []

    def entry(name, kind, left, right, child, start, size):
        encoded = name.encode("utf-16-le")
        raw = encoded + b"\0" * (64 - len(encoded))
        return (raw + struct.pack("<HBB", len(encoded) + 2 if name else 0, kind, 1)
                + struct.pack("<III", left, right, child) + b"\0" * 36 + struct.pack("<IIHH", start, size, 0, 0))

    entries.append(None)  # root, filled below
    big_starts = {}
    directory_slot = len(entries)
    for i, name in enumerate(names):
        entries.append((name, i))
    dir_count = len(entries)
    dir_blob_len = ((dir_count * 128 + 511) // 512) * 512
    dir_start = len(sectors)
    for i in range(dir_blob_len // 512):
        sectors.append(None)  # filled later
        fat.append(dir_start + i + 1 if i + 1 < dir_blob_len // 512 else END)

    for name, data in big:
        big_starts[name] = place(data)

    # FAT sectors at the end (before nothing else); count them.
    n_fat = 1
    while (len(sectors) + n_fat) > n_fat * 128:
        n_fat += 1
    # Put FAT sectors before the big streams? Keep big streams last: move them is complex,
    # so FAT sectors are placed in front by renumbering. Simpler: place FAT sectors first.
    shift = n_fat
    fat = [FATSECT] * n_fat + [v + shift if v < 0xFFFFFFF0 else v for v in fat]
    sectors = [None] * n_fat + sectors
    mini_fat_start = mini_fat_start + shift if mini_fat_start != END else END
    mini_container_start = mini_container_start + shift if mini_container_start != END else END
    dir_start += shift
    for k in big_starts:
        big_starts[k] += shift
    fat += [FREE] * (n_fat * 128 - len(fat))
    fat_blob = b"".join(struct.pack("<I", v) for v in fat)
    for i in range(n_fat):
        sectors[i] = fat_blob[i * 512:(i + 1) * 512]

    blob = entry("Root Entry", 5, NOSTREAM, NOSTREAM, 1 if names else NOSTREAM,
                 mini_container_start, len(mini))
    for name, i in entries[1:]:
        data = dict(streams)[name]
        start = big_starts[name] if len(data) >= 4096 else mini_start[name]
        right = i + 2 if i + 1 < len(names) else NOSTREAM
        blob += entry(name, 2, NOSTREAM, right, NOSTREAM, start, len(data))
    while len(blob) < dir_blob_len:
        blob += entry("", 0, NOSTREAM, NOSTREAM, NOSTREAM, 0, 0)
    for i in range(dir_blob_len // 512):
        sectors[dir_start + i] = blob[i * 512:(i + 1) * 512]

    header = (b"\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1" + b"\0" * 16 + struct.pack("<HHHHH", 0x3E, 3, 0xFFFE, 9, 6)
              + b"\0" * 6 + struct.pack("<IIIIIIIII", 0, n_fat, dir_start, 0, 4096, mini_fat_start,
                                        (len(mini_fat_bytes) + 511) // 512, END, 0))
    header += b"".join(struct.pack("<I", i if i < n_fat else FREE) for i in range(109))
    out = header + b"".join(sectors)
    if truncate_padding:
        last = big[-1][1] if big else b""
        pad = (512 - len(last) % 512) % 512
        assert pad > 0, "the last stream fills its last sector; nothing to cut"
        out = out[:-pad]
    return out


# ---------------------------------------------------------------- BIFF records


def rec(kind, body=b""):
    return struct.pack("<HH", kind, len(body)) + body


def u16(v):
    return struct.pack("<H", v)


def u32(v):
    return struct.pack("<I", v)


def f64(v):
    return struct.pack("<d", v)


def xlstr(text, count_bytes=2):
    """An XLUnicodeString (count of 1 or 2 bytes, option byte, characters)."""
    wide = any(ord(c) > 0xFF for c in text)
    count = struct.pack("<H" if count_bytes == 2 else "<B", len(text))
    return count + bytes([1 if wide else 0]) + (text.encode("utf-16-le") if wide else text.encode("latin-1"))


def bof(kind, version=0x0600):
    if version == 0x0600:
        return rec(0x0809, struct.pack("<HHHHII", 0x0600, kind, 0x0DBB, 0x07CC, 0x41, 6))
    return rec(0x0809, struct.pack("<HHHH", 0x0500, kind, 0x0DBB, 0x07CC))


EOF = rec(0x000A)


def font(name="Arial", height=200, bold=False, italic=False, color=0x7FFF, biff=8):
    body = struct.pack("<HHHHHBBBB", height, 2 if italic else 0, color, 700 if bold else 400, 0, 0, 0, 0, 0)
    if biff == 8:
        return rec(0x0031, body + xlstr(name, 1))
    return rec(0x0031, body + bytes([len(name)]) + name.encode("cp1252"))


def xf(font_index=0, fmt=0, style=False, h=0, v=2, wrap=False, fill=None, biff=8):
    flags = 0xFFF5 if style else 0x0001
    align = h | (8 if wrap else 0) | (v << 4)
    if biff == 8:
        fls = 1 if fill is not None else 0
        fore = fill if fill is not None else 64
        return rec(0x00E0, struct.pack("<HHHBBBBIIH", font_index, fmt, flags, align, 0, 0, 0 if style else 0xF8, 0,
                                       fls << 26, fore | (65 << 7)))
    fore = fill if fill is not None else 64
    fls = 1 if fill is not None else 0
    return rec(0x00E0, struct.pack("<HHHBBII", font_index, fmt, flags, align, 0xF8,
                                   fore | (65 << 7) | (fls << 16), 0))


def standard_globals(biff=8, fonts=None, formats=(), xfs=(), codepage=None, window_tab=0, date1904=False,
                     before_sheets=b""):
    """The globals up to (not including) BOUNDSHEET: 4 fonts + given, 15 style XFs, the
    default cell XF 15 and the given cell XFs from 16 on."""
    out = bof(5, 0x0600 if biff == 8 else 0x0500)
    out += before_sheets
    if codepage is not None:
        out += rec(0x0042, u16(codepage))
    out += rec(0x003D, struct.pack("<HHHHHHHHH", 0, 0, 0x4000, 0x3000, 0x38, window_tab, 0, 1, 0x258))
    out += rec(0x0022, u16(1 if date1904 else 0))
    for i in range(4):
        out += font(biff=biff)
    for f in fonts or []:
        out += f
    for ident, code in formats:
        if biff == 8:
            out += rec(0x041E, u16(ident) + xlstr(code, 2))
        else:
            out += rec(0x041E, u16(ident) + bytes([len(code.encode("cp1252"))]) + code.encode("cp1252"))
    for i in range(15):
        out += xf(style=True, biff=biff)
    out += xf(biff=biff)
    for x in xfs:
        out += x
    out += rec(0x0293, struct.pack("<HBB", 0x8000, 0, 0xFF))
    return out


def boundsheet(name, position, kind=0, hidden=0, biff=8, encoding="cp1252"):
    if biff == 8:
        return rec(0x0085, u32(position) + bytes([hidden, kind]) + xlstr(name, 1))
    raw = name.encode(encoding)
    return rec(0x0085, u32(position) + bytes([hidden, kind, len(raw)]) + raw)


def continued_characters(records, body, text, wide, limit):
    """Appends the characters of `text` to the record `body`; a full record goes to `records`
    and the next starts with the option byte again. Returns the record being filled."""
    unit = 2 if wide else 1
    done = 0
    while done < len(text):
        room = (limit - len(body)) // unit
        if room == 0:
            records.append(bytes(body))
            body = bytearray([1 if wide else 0])
            continue
        part = text[done:done + room]
        body += part.encode("utf-16-le") if wide else part.encode("latin-1")
        done += len(part)
    return body


def sst(strings, limit=8224):
    """SST split over CONTINUE records: a text's header is never split; its characters that
    run on start the next record with the option byte again."""
    records = []
    body = bytearray(u32(len(strings)) + u32(len(strings)))
    for text in strings:
        wide = any(ord(c) > 0xFF for c in text)
        unit = 2 if wide else 1
        if limit - len(body) < 3 + (unit if text else 0):
            records.append(bytes(body))
            body = bytearray()
        body += u16(len(text)) + bytes([1 if wide else 0])
        body = continued_characters(records, body, text, wide, limit)
    records.append(bytes(body))
    return rec(0x00FC, records[0]) + b"".join(rec(0x003C, r) for r in records[1:])


def workbook(globals_, sheets, sst_strings=None, after_sst=b""):
    """globals_: bytes before BOUNDSHEET; sheets: list of (name, substream bytes, kind,
    hidden). Returns the workbook stream with BOUNDSHEET positions filled in."""
    def build(positions):
        out = globals_
        for (name, _, kind, hidden), pos in zip(sheets, positions):
            out += boundsheet(name, pos, kind, hidden)
        if sst_strings is not None:
            out += sst(sst_strings)
        out += after_sst + EOF
        return out
    head = build([0] * len(sheets))
    positions = []
    at = len(head)
    for _, body, _, _ in sheets:
        positions.append(at)
        at += len(body)
    return build(positions) + b"".join(body for _, body, _, _ in sheets)


def number(r, c, v, x=15):
    return rec(0x0203, struct.pack("<HHHd", r, c, x, v))


def rk(r, c, raw, x=15):
    return rec(0x027E, struct.pack("<HHHI", r, c, x, raw))


def labelsst(r, c, index, x=15):
    return rec(0x00FD, struct.pack("<HHHI", r, c, x, index))


def label(r, c, text, x=15):
    return rec(0x0204, struct.pack("<HHH", r, c, x) + xlstr(text, 2))


def blank(r, c, x=15):
    return rec(0x0201, struct.pack("<HHH", r, c, x))


def boolerr(r, c, value, is_error, x=15):
    return rec(0x0205, struct.pack("<HHHBB", r, c, x, value, 1 if is_error else 0))


def formula(r, c, result, x=15):
    """result: a float, or ('text',), ('bool', b), ('error', code), ('empty',)."""
    if isinstance(result, float):
        value = f64(result)
    else:
        kind = {"text": 0, "bool": 1, "error": 2, "empty": 3}[result[0]]
        extra = result[1] if len(result) > 1 else 0
        value = bytes([kind, 0, extra, 0, 0, 0, 0xFF, 0xFF])
    tokens = b"\x1E" + u16(1)  # =1 (PtgInt); the reader takes the cached result only
    return rec(0x0006, struct.pack("<HHH", r, c, x) + value + u16(0) + u32(0) + u16(len(tokens)) + tokens)


def string_record(text, limit=8224):
    """STRING (a formula's text result), continued when long."""
    wide = any(ord(c) > 0xFF for c in text)
    parts = []
    body = continued_characters(parts, bytearray(u16(len(text)) + bytes([1 if wide else 0])), text, wide, limit)
    parts.append(bytes(body))
    return rec(0x0207, parts[0]) + b"".join(rec(0x003C, p) for p in parts[1:])


def dimensions(r1, r2, c1, c2):
    return rec(0x0200, struct.pack("<IIHHH", r1, r2, c1, c2, 0))


def window2(active):
    return rec(0x023E, struct.pack("<HHHHHHHI", 0x06B6 if active else 0x00B6, 0, 0, 0x40, 0, 0, 0, 0))


def sheet(records, active=False, version=0x0600):
    return bof(0x0010, version) + records + (window2(active) if version == 0x0600 else
                                             rec(0x023E, struct.pack("<HHHI", 0x06B6 if active else 0xB6, 0, 0, 0))) + EOF


def chart_substream():
    # A minimal chart: BOF (chart), a few chart records, EOF; with a nested BOF of its own
    # would be rare; a CONTINUE and an odd record are enough to trip a naive reader.
    return (bof(0x0020) + rec(0x1002, b"\0" * 16) + rec(0x1033) + rec(0x1001, u16(0)) + rec(0x003C, b"xyz")
            + rec(0x0203, b"\x01") + rec(0x1034) + EOF)


def write(name, data):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


# ---------------------------------------------------------------- the cases


def values_workbook(date1904=False):
    formats = [(164, "yyyy-mm-dd hh:mm"), (165, "0.000"), (166, '[$-804]aaaa;@'), (167, "")]
    fonts = [font("宋体", 240, bold=True, color=10), font("Arial", 200, italic=True)]
    xfs = [
        xf(fmt=14),  # 16: built-in date
        xf(fmt=31),  # 17: East Asian yyyy"年"m"月"d"日"
        xf(fmt=57),  # 18: East Asian yyyy"年"m"月"
        xf(fmt=21),  # 19: h:mm:ss
        xf(fmt=164),  # 20: custom date-time
        xf(fmt=165),  # 21: custom number
        xf(font_index=5, fill=13, h=2, v=1, wrap=True),  # 22: bold red 宋体 12, yellow fill, centred, wrapped
        xf(font_index=6, h=3, v=0),  # 23: italic Arial, right, top
        xf(fmt=167),  # 24: an empty format code
        xf(fmt=32),  # 25: East Asian h"时"mm"分"
    ]
    g = standard_globals(formats=formats, fonts=fonts, xfs=xfs, date1904=date1904, window_tab=0)
    strings = ["名称", "Plain", "", "金额"]
    cells = b""
    cells += rec(0x0225, struct.pack("<HH", 0, 270))  # DEFAULTROWHEIGHT 13.5 pt
    cells += rec(0x0081, u16(0x04C1 | 0x0100))  # WSBOOL: fit to page
    cells += rec(0x001B, u16(2) + struct.pack("<HHH", 10, 0, 255) + struct.pack("<HHH", 20, 0, 255))
    cells += rec(0x0026, f64(0.5)) + rec(0x0027, f64(0.6)) + rec(0x0028, f64(0.7)) + rec(0x0029, f64(0.8))
    cells += rec(0x00A1, struct.pack("<HHHHHHHHddH", 9, 85, 1, 1, 0, 0x0000, 600, 600, 0.25, 0.35, 1))
    cells += rec(0x007D, struct.pack("<HHHHHH", 1, 2, 4096, 15, 2, 0))  # B:C width 16 characters
    cells += dimensions(0, 5, 0, 4)  # a DIMENSIONS smaller than the cells: never trusted
    cells += rec(0x0208, struct.pack("<HHHHHHHH", 0, 0, 10, 600, 0, 0, 0x0140, 15))  # row 1: 30 pt
    cells += rec(0x0208, struct.pack("<HHHHHHHH", 5, 0, 10, 270, 0, 0, 0x0160, 15))  # row 6: hidden
    cells += labelsst(0, 0, 0, 22) + labelsst(0, 1, 1, 23) + labelsst(0, 2, 2) + label(0, 3, "") + labelsst(0, 4, 3)
    cells += number(1, 0, 12.5) + rk(1, 1, (42 << 2) | 2) + rk(1, 2, (1234 << 2) | 3)  # 42, 12.34
    cells += rk(1, 3, struct.unpack("<Q", struct.pack("<d", 0.5))[0] >> 32 & 0xFFFFFFFC)  # 0.5, float RK
    cells += rec(0x00BD, struct.pack("<HH", 2, 0) + struct.pack("<HI", 15, (7 << 2) | 2) + struct.pack("<HI", 21, (-3 << 2 & 0xFFFFFFFF) | 2) + u16(1))
    cells += rec(0x00BE, struct.pack("<HH", 2, 2) + struct.pack("<HHH", 22, 22, 15) + u16(4))  # C3:E3 blanks
    cells += number(3, 0, 46363.0, 16) + number(3, 1, 46363.0, 17) + number(3, 2, 46363.0, 18)
    cells += number(3, 3, 0.5, 19) + number(3, 4, 46363.75, 20) + number(3, 5, 3.14159, 21) + number(3, 6, 7.0, 24)
    cells += number(3, 7, 0.75, 25)
    cells += boolerr(4, 0, 1, False) + boolerr(4, 1, 0, False) + boolerr(4, 2, 0x07, True) + boolerr(4, 3, 0x2A, True)
    cells += formula(5, 0, 99.5) + formula(5, 1, ("text",)) + string_record("合计") + formula(5, 2, ("bool", 1))
    cells += formula(5, 3, ("error", 0x17)) + formula(5, 4, ("empty",)) + formula(5, 5, 46363.0, 16)
    cells += formula(5, 6, ("text",)) + string_record("")
    cells += rec(0x00D6, struct.pack("<HHH", 6, 0, 15) + xlstr("富文本", 2) + u16(1) + struct.pack("<HH", 0, 5))
    cells += rec(0x0012, u16(1))  # PROTECT
    body = sheet(cells + rec(0x00E5, u16(2) + struct.pack("<HHHH", 0, 0, 0, 1) + struct.pack("<HHHH", 7, 9, 2, 3)),
                 active=True)
    second = sheet(labelsst(0, 0, 3))
    name = rec(0x0018, struct.pack("<HBBHHHBBBB", 0x0020, 0, 1, 11, 0, 1, 0, 0, 0, 0) + b"\x00\x07"
               + b"\x3B" + struct.pack("<HHHHH", 0, 0, 1, 0, 255))
    supbook = rec(0x01AE, u16(2) + u16(0x0401)) + rec(0x0017, u16(1) + struct.pack("<HHH", 0, 0, 0))
    stream = workbook(g, [("数据", body, 0, 0), ("第二页", second, 0, 1)], strings, after_sst=b"")
    # Print titles (rows 1–2 of the first sheet): SUPBOOK, EXTERNSHEET and NAME after BOUNDSHEET.
    return stream, supbook + name


def main():
    # values.xls: every cell kind, formats, styles, layout, page setup, print titles.
    formats = None
    stream, names = values_workbook()
    # Rebuild with the names inserted before the SST (positions recomputed by workbook()).
    g_end = stream.find(struct.pack("<H", 0x0085))
    write("values.xls", compound_file([("Workbook", insert_names(stream, names))]))
    stream1904, names = values_workbook(date1904=True)
    write("dates1904.xls", compound_file([("Workbook", insert_names(stream1904, names))]))

    # chart_embedded.xls: a chart substream between the cells of a worksheet.
    g = standard_globals()
    body = sheet(number(0, 0, 1.0) + label(1, 0, "x") + chart_substream() + number(0, 1, 2.0) + label(5, 5, "after"))
    write("chart_embedded.xls", compound_file([("Workbook", workbook(g, [("Sheet1", body, 0, 0)]))]))

    # empty_strings.xls: an empty text in the SST, in a LABEL, in a FORMAT, in a STRING.
    g = standard_globals(formats=[(164, "")], xfs=[xf(fmt=164)])
    body = sheet(labelsst(0, 0, 0) + labelsst(0, 1, 1) + label(1, 0, "") + number(1, 1, 5.0, 16)
                 + formula(2, 0, ("text",)) + string_record(""))
    write("empty_strings.xls", compound_file([("Workbook", workbook(g, [("Sheet1", body, 0, 0)], ["", "b"]))]))

    # outside_dimensions.xls: DIMENSIONS says A1:B2; cells at C5 and IV65536.
    g = standard_globals()
    body = sheet(dimensions(0, 2, 0, 2) + number(0, 0, 1.0) + number(4, 2, 3.0) + label(65535, 255, "last"))
    write("outside_dimensions.xls", compound_file([("Workbook", workbook(g, [("Sheet1", body, 0, 0)]))]))

    # long_string.xls: a 32,770-character text in the SST across CONTINUE records, its
    # characters switching from one byte to two; a 10,000-character formula text.
    long_text = ("a" * 20000) + ("长" * 12770)
    g = standard_globals()
    body = sheet(labelsst(0, 0, 1) + labelsst(1, 0, 0) + formula(2, 0, ("text",)) + string_record("字" * 10000))
    write("long_string.xls",
          compound_file([("Workbook", workbook(g, [("Sheet1", body, 0, 0)], ["short", long_text]))]))

    # stream_4096.xls: the workbook stream is exactly 4,096 bytes (normal sectors, not the
    # mini stream), beside a small stream that does live in the mini stream.
    g = standard_globals()
    body = sheet(number(0, 0, 4096.0) + label(0, 1, "4096"))
    base = workbook(g, [("Sheet1", body, 0, 0)])
    filler = 4096 - len(base) - 4
    g2 = g + rec(0x01C1, b"\0" * filler) if filler <= 8224 else None
    stream = workbook(g2, [("Sheet1", body, 0, 0)])
    assert len(stream) == 4096, len(stream)
    summary = b"\xFE\xFF" + b"\x11" * 198
    write("stream_4096.xls", compound_file([("\x05SummaryInformation", summary), ("Workbook", stream)]))

    # small_stream.xls: a workbook under 4,096 bytes in the mini stream, after another small
    # stream, so it starts at mini sector 4, not 0.
    stream = workbook(g, [("Sheet1", body, 0, 0)])
    assert len(stream) < 4096
    write("small_stream.xls", compound_file([("\x05SummaryInformation", summary), ("Workbook", stream)]))

    # upper_case.xls: the stream named WORKBOOK.
    write("upper_case.xls", compound_file([("WORKBOOK", workbook(g2, [("Sheet1", body, 0, 0)]))]))

    # partial_sector.xls: the file ends inside its last sector (the zero padding cut off).
    big_body = sheet(b"".join(number(r, 0, float(r)) for r in range(400)) + label(400, 0, "end"))
    stream = workbook(standard_globals(), [("Sheet1", big_body, 0, 0)])
    write("partial_sector.xls", compound_file([("Workbook", stream)], truncate_padding=True))

    # biff5_codepage.xls: Excel 95 ("Book" stream) with CODEPAGE 936 and Chinese text.
    def biff5(codepage, texts, sheet_name, encoding, stream_name="Book"):
        g = standard_globals(biff=5, codepage=codepage, xfs=[xf(fmt=14, biff=5)])
        cells = b""
        for i, t in enumerate(texts):
            raw = t.encode(encoding)
            cells += rec(0x0204, struct.pack("<HHHH", i, 0, 15, len(raw)) + raw)
        cells += number(0, 1, 46363.0, 16) + rk(1, 1, (5 << 2) | 2)
        body = sheet(cells, active=True, version=0x0500)
        raw_name = sheet_name.encode(encoding)
        def build(pos):
            return g + rec(0x0085, u32(pos) + bytes([0, 0, len(raw_name)]) + raw_name) + EOF
        head = build(0)
        return build(len(head)) + body
    write("biff5_codepage.xls",
          compound_file([("Book", biff5(936, ["中文文字", "第二行"], "表一", "gbk"))]))
    write("biff5_no_codepage.xls",
          compound_file([("Book", biff5(None, ["café €", "naïve"], "Feuille", "cp1252"))]))
    write("biff5_upper_case.xls",
          compound_file([("BOOK", biff5(1252, ["BOOK"], "Sheet1", "cp1252"))]))

    # encrypted.xls: FILEPASS (RC4) right after BOF; what follows is scrambled.
    filepass = rec(0x002F, u16(1) + u16(1) + u16(1) + b"\x5A" * 48)
    g = standard_globals(before_sheets=filepass)
    body = sheet(b"\x13\x37" * 20)
    write("encrypted.xls", compound_file([("Workbook", workbook(g, [("Sheet1", body, 0, 0)]))]))

    # encrypted_package.xls: an .xlsx with a password to open (Office stores it in a compound file).
    write("encrypted_package.xls",
          compound_file([("EncryptionInfo", b"\x04\x00\x04\x00" + b"\0" * 200), ("EncryptedPackage", b"\x01" * 5000)]))

    # active_second.xls: WINDOW1 names the second tab.
    g = standard_globals(window_tab=1)
    s1 = sheet(label(0, 0, "one"))
    s2 = sheet(label(0, 0, "two"), active=True)
    write("active_second.xls", compound_file([("Workbook", workbook(g, [("一", s1, 0, 0), ("二", s2, 0, 0)]))]))

    # chart_sheet_first.xls: a chart sheet, a worksheet (the active tab), a macro sheet, a
    # dialog sheet; only the worksheet is a sheet of the workbook.
    g = standard_globals(window_tab=1)
    chart = chart_substream()
    macro = bof(0x0040) + number(0, 0, 1.0) + EOF
    dialog = bof(0x0010) + rec(0x0081, u16(0x04D1)) + label(0, 0, "dialog") + EOF
    data = sheet(label(0, 0, "数据") + number(1, 0, 2.0), active=True)
    write("chart_sheet_first.xls",
          compound_file([("Workbook", workbook(g, [("图表", chart, 2, 0), ("数据", data, 0, 0),
                                                  ("宏", macro, 1, 0), ("对话框", dialog, 0, 0)]))]))

    # xlwt.xls: written by Debian's python3-xlwt.
    try:
        import xlwt
        import datetime
        wb = xlwt.Workbook(encoding="utf-8")
        ws = wb.add_sheet("数据")
        date = xlwt.easyxf(num_format_str="YYYY-MM-DD")
        stamp = xlwt.easyxf(num_format_str="YYYY-MM-DD HH:MM:SS")
        fill = xlwt.easyxf("pattern: pattern solid, fore_colour yellow; font: bold on, colour red; align: horiz center")
        for c, h in enumerate(["名称", "数量", "日期", "时间戳", "布尔"]):
            ws.write(0, c, h, fill)
        for r in range(1, 200):
            ws.write(r, 0, "项目%d" % r)
            ws.write(r, 1, r * 1.25 - 50)
            ws.write(r, 2, datetime.date(2020, 1, 1) + datetime.timedelta(days=r), date)
            ws.write(r, 3, datetime.datetime(2026, 12, 7, 9, 5, 7) + datetime.timedelta(hours=r), stamp)
            ws.write(r, 4, r % 2 == 0)
        ws.write_merge(201, 202, 0, 2, "合并")
        ws.col(0).width = 256 * 20
        ws.row(1).height_mismatch = True
        ws.row(1).height = 600
        ws2 = wb.add_sheet("Second")
        ws2.write(0, 0, "第二页")
        ws2.write(1, 0, 123456789)
        wb.set_active_sheet(1)
        ws2.set_selected(True)
        ws.set_selected(False)
        wb.save(os.path.join(HERE, "xlwt.xls"))
    except ImportError:
        print("python3-xlwt missing: xlwt.xls kept as it is", file=sys.stderr)

    # libreoffice.xls: LibreOffice's own .xls from an xlsx with formulas and their results.
    make_libreoffice()


def insert_names(stream, names):
    """Inserts SUPBOOK/EXTERNSHEET/NAME before the SST and moves the BOUNDSHEET positions."""
    at = stream.find(b"\xFC\x00")
    # Find the SST record start by walking the records.
    pos = 0
    while pos < len(stream):
        kind, length = struct.unpack_from("<HH", stream, pos)
        if kind == 0x00FC:
            break
        pos += 4 + length
    out = bytearray(stream[:pos] + names + stream[pos:])
    # Fix BOUNDSHEET positions.
    p = 0
    while p < pos:
        kind, length = struct.unpack_from("<HH", out, p)
        if kind == 0x0085:
            old = struct.unpack_from("<I", out, p + 4)[0]
            struct.pack_into("<I", out, p + 4, old + len(names))
        p += 4 + length
    return bytes(out)


def make_libreoffice():
    soffice = shutil.which("soffice") or shutil.which("libreoffice")
    if not soffice:
        print("LibreOffice missing: libreoffice.xls kept as it is", file=sys.stderr)
        return
    import datetime
    import openpyxl
    from openpyxl.styles import Alignment, Font, PatternFill
    wb = openpyxl.Workbook()
    ws = wb.active
    ws.title = "汇总"
    ws.append(["名称", "单价", "数量", "金额", "日期", "备注"])
    for i in range(1, 31):
        ws.append(["物品%d" % i, i * 1.5, i % 7, None, datetime.date(2026, 1, 1) + datetime.timedelta(days=i),
                   "" if i % 5 else "满五"])
        ws.cell(row=i + 1, column=4).value = "=B%d*C%d" % (i + 1, i + 1)
        ws.cell(row=i + 1, column=5).number_format = "yyyy/m/d"
    ws["A33"] = "合计"
    ws["D33"] = "=SUM(D2:D31)"
    ws["E33"] = '=IF(D33>100,"大","小")'
    ws["F33"] = "=1/0"
    ws["G33"] = "=D33>0"
    ws["H33"] = '=""'
    ws["I33"] = "=NA()"
    ws["A1"].fill = PatternFill("solid", fgColor="FFFF00")
    ws["A1"].font = Font(bold=True, color="FF0000", name="宋体", size=12)
    ws["B1"].alignment = Alignment(horizontal="center", vertical="center", wrap_text=True)
    ws.merge_cells("A35:C36")
    ws["A35"] = "合并区域"
    ws.column_dimensions["A"].width = 18
    ws.row_dimensions[1].height = 30
    ws2 = wb.create_sheet("明细")
    ws2["A1"] = "明细"
    ws2["B2"] = 0.5
    ws2["B2"].number_format = "h:mm:ss"
    ws2["B3"] = True
    wb.active = 1
    with tempfile.TemporaryDirectory() as tmp:
        src = os.path.join(tmp, "libreoffice.xlsx")
        wb.save(src)
        subprocess.run([soffice, "--headless", "--norestore", "-env:UserInstallation=file://%s/profile" % tmp,
                        "--convert-to", "xls", "--outdir", tmp, src], check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        shutil.copy(os.path.join(tmp, "libreoffice.xls"), os.path.join(HERE, "libreoffice.xls"))


if __name__ == "__main__":
    main()
