"""What openpyxl reads from an .xlsx file, as JSON on stdout: the workbook's sheets in order
with their state, the active sheet, and for every sheet its cells (value, type, number format,
font, fill, alignment), merged ranges, column widths, row heights and hidden rows, page setup,
margins, print titles, manual breaks and protection. Two files hold the same workbook for
openpyxl when their dumps are equal (numbers compared by the caller to the last digit that
%.16G keeps)."""

import json
import sys
import warnings

import openpyxl


def color(c):
    if c is None:
        return None
    if c.type == "rgb":
        return "rgb:" + str(c.rgb)[-6:]
    return "%s:%s" % (c.type, c.value)


def cell_record(cell):
    value = cell.value
    if isinstance(value, float) and value == int(value) and abs(value) < 1e15:
        value = int(value) if str(value) != "-0.0" else "-0"
    if hasattr(value, "isoformat"):
        value = value.isoformat()
    font, fill, align = cell.font, cell.fill, cell.alignment
    return {
        "value": value,
        "type": cell.data_type,
        "format": cell.number_format,
        "font": [font.name, font.sz, bool(font.b), bool(font.i), color(font.color) if font.color is not None and font.color.type == "rgb" else None],
        "fill": [fill.fill_type, color(fill.fgColor) if fill.fill_type else None],
        "align": [align.horizontal, align.vertical, bool(align.wrap_text)],
    }


def dump(path):
    book = openpyxl.load_workbook(path)
    out = {"sheets": [], "active": book.index(book.active)}
    for ws in book.worksheets:
        cells = {}
        for (row, column), cell in sorted(ws._cells.items()):
            if cell.value is None and not cell.has_style:
                continue
            cells["%s%d" % (openpyxl.utils.get_column_letter(column), row)] = cell_record(cell)
        columns = {}
        for key, dim in sorted(ws.column_dimensions.items()):
            if dim.width is not None or dim.hidden:
                columns["%s:%s" % (dim.min, dim.max)] = [round(dim.width or 0, 6), bool(dim.hidden)]
        # A row at the sheet's default height has none of its own.
        default_row = ws.sheet_format.defaultRowHeight
        rows = {}
        for key, dim in sorted(ws.row_dimensions.items()):
            height = None if dim.ht is None or abs(dim.ht - default_row) < 1e-9 else round(dim.ht, 3)
            if height is not None or dim.hidden:
                rows[str(key)] = [height, bool(dim.hidden)]
        setup, margins = ws.page_setup, ws.page_margins
        out["sheets"].append({
            "title": ws.title,
            "state": ws.sheet_state,
            "cells": cells,
            "merged": sorted(str(r) for r in ws.merged_cells.ranges),
            "columns": columns,
            "rows": rows,
            "default_row": ws.sheet_format.defaultRowHeight,
            "page": [setup.paperSize, setup.orientation, setup.scale, setup.fitToWidth, setup.fitToHeight,
                     bool(ws.sheet_properties.pageSetUpPr and ws.sheet_properties.pageSetUpPr.fitToPage)],
            "margins": [margins.left, margins.right, margins.top, margins.bottom, margins.header, margins.footer],
            "titles": ws.print_title_rows,
            "breaks": [b.id for b in ws.row_breaks.brk],
            "protected": bool(ws.protection.sheet),
        })
    return out


def same(a, b):
    if isinstance(a, (int, float)) and isinstance(b, (int, float)) and not isinstance(a, bool):
        return a == b or abs(a - b) <= 1e-15 * max(abs(a), abs(b))
    if isinstance(a, dict) and isinstance(b, dict):
        return a.keys() == b.keys() and all(same(a[k], b[k]) for k in a)
    if isinstance(a, list) and isinstance(b, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    return a == b


def differences(a, b, where=""):
    if same(a, b):
        return []
    if isinstance(a, dict) and isinstance(b, dict):
        found = []
        for k in sorted(set(a) | set(b), key=str):
            found += differences(a.get(k), b.get(k), where + "/" + str(k))
        return found
    if isinstance(a, list) and isinstance(b, list) and len(a) == len(b):
        found = []
        for i, (x, y) in enumerate(zip(a, b)):
            found += differences(x, y, where + "/" + str(i))
        return found
    return ["%s: %r != %r" % (where, a, b)]


# Usage: openpyxl_dump.py FILE...             the dumps as JSON
#        openpyxl_dump.py --compare A B ...   exit 1 and the differences when a pair differs
if __name__ == "__main__":
    warnings.filterwarnings("ignore")  # dates out of openpyxl's range are read as errors, in both files
    if sys.argv[1] == "--compare":
        files = sys.argv[2:]
        failed = False
        for ours, reference in zip(files[0::2], files[1::2]):
            found = differences(dump(ours), dump(reference))
            if found:
                failed = True
                print("%s differs from %s:" % (ours, reference))
                for line in found[:20]:
                    print("  " + line)
        sys.exit(1 if failed else 0)
    json.dump([dump(p) for p in sys.argv[1:]], sys.stdout, ensure_ascii=False, sort_keys=True)
