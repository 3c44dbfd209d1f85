#!/usr/bin/python3
"""Prints what python3-xlrd (1.2) reads from an .xls file, as JSON, for the differential
tests (tests/xls_test.cpp): every sheet with its cells, merged areas and visibility, the
sheet shown when the file opens (WINDOW2's "active" flag), and for each cell its number
format and fill colour (formatting_info=True).

    xlrd_dump.py FILE [ENCODING]  -> {"sheets": [...], "datemode": 0|1} or {"error": "..."}

ENCODING is the code page of a BIFF5 file without a CODEPAGE record (xlrd assumes ASCII).

A cell is [row, column, kind, value, format, fill]: kind is text, number, date, boolean,
error or blank; a date's value is its serial in the 1900 system; an error's value is its
text (#DIV/0!); fill is the 0xRRGGBB colour of a solid pattern or null.
"""
import json
import os
import sys

import xlrd


def main(path, encoding=None):
    try:
        with open(os.devnull, "w") as quiet:  # xlrd's warnings would go to stdout
            book = xlrd.open_workbook(path, formatting_info=True, ragged_rows=True, logfile=quiet,
                                      encoding_override=encoding)
    except Exception as e:  # noqa: BLE001 - any refusal is reported as such
        print(json.dumps({"error": "%s: %s" % (type(e).__name__, e)}, ensure_ascii=False))
        return
    sheets = []
    for sh in book.sheets():
        cells = []
        for r in range(sh.nrows):
            for c in range(sh.row_len(r)):
                cell = sh.cell(r, c)
                kind = cell.ctype
                if kind == xlrd.XL_CELL_EMPTY:
                    continue
                xf = book.xf_list[cell.xf_index] if cell.xf_index is not None and cell.xf_index < len(book.xf_list) else None
                fmt = book.format_map[xf.format_key].format_str if xf is not None and xf.format_key in book.format_map else ""
                fill = None
                if xf is not None and xf.background.fill_pattern == 1:
                    rgb = book.colour_map.get(xf.background.pattern_colour_index)
                    if rgb:
                        fill = (rgb[0] << 16) | (rgb[1] << 8) | rgb[2]
                if kind == xlrd.XL_CELL_TEXT:
                    item = ["text", cell.value]
                elif kind == xlrd.XL_CELL_NUMBER:
                    item = ["number", cell.value]
                elif kind == xlrd.XL_CELL_DATE:
                    value = cell.value + (1462 if book.datemode == 1 else 0)
                    item = ["date", value]
                elif kind == xlrd.XL_CELL_BOOLEAN:
                    item = ["boolean", bool(cell.value)]
                elif kind == xlrd.XL_CELL_ERROR:
                    item = ["error", xlrd.error_text_from_code.get(cell.value, "#N/A")]
                else:
                    item = ["blank", None]
                cells.append([r, c] + item + [fmt, fill])
        sheets.append({
            "name": sh.name,
            "cells": cells,
            "merges": [list(m) for m in sh.merged_cells],
            "visible": sh.visibility,
            "active": bool(sh.sheet_visible),
        })
    print(json.dumps({"sheets": sheets, "datemode": book.datemode}, ensure_ascii=False))


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2] if len(sys.argv) > 2 else None)
