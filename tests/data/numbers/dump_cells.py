"""Prints the cells of the first sheet of each workbook named on the command line, as a
reference reader sees them: one JSON object per file, {"path": [[row, column, kind, text]]}
with 0-based rows and columns; kind n (number or date, text = repr of the float), s (text),
b (boolean, text 1 or 0), e (error). .xls is read by xlrd, .xlsx by openpyxl."""
import datetime
import json
import sys


def xls_cells(path):
    import xlrd
    sheet = xlrd.open_workbook(path).sheet_by_index(0)
    for r in range(sheet.nrows):
        for c in range(sheet.ncols):
            cell = sheet.cell(r, c)
            if cell.ctype in (xlrd.XL_CELL_NUMBER, xlrd.XL_CELL_DATE):
                yield [r, c, "n", repr(float(cell.value))]
            elif cell.ctype == xlrd.XL_CELL_TEXT and cell.value != "":
                yield [r, c, "s", cell.value]
            elif cell.ctype == xlrd.XL_CELL_BOOLEAN:
                yield [r, c, "b", str(int(cell.value))]
            elif cell.ctype == xlrd.XL_CELL_ERROR:
                yield [r, c, "e", xlrd.error_text_from_code[cell.value]]


ERRORS = ("#NULL!", "#DIV/0!", "#VALUE!", "#REF!", "#NAME?", "#NUM!", "#N/A")


def xlsx_cells(path):
    import openpyxl
    from openpyxl.utils.datetime import to_excel
    sheet = openpyxl.load_workbook(path, data_only=True).worksheets[0]
    formulas = openpyxl.load_workbook(path).worksheets[0]
    for row in sheet.iter_rows():
        for cell in row:
            v = cell.value
            if v is None or v == "":
                continue
            r, c = cell.row - 1, cell.column - 1
            # An error value cached for a formula reads as its text.
            formula = formulas.cell(row=cell.row, column=cell.column).data_type == "f"
            if cell.data_type == "e" or (formula and v in ERRORS):
                yield [r, c, "e", str(v)]
            elif isinstance(v, bool):
                yield [r, c, "b", str(int(v))]
            elif isinstance(v, datetime.timedelta):
                yield [r, c, "n", repr(v.total_seconds() / 86400)]
            elif isinstance(v, (datetime.datetime, datetime.date, datetime.time)):
                yield [r, c, "n", repr(float(to_excel(v)))]
            elif isinstance(v, (int, float)):
                yield [r, c, "n", repr(float(v))]
            else:
                yield [r, c, "s", str(v)]


out = {}
for path in sys.argv[1:]:
    out[path] = list(xls_cells(path) if path.lower().endswith(".xls") else xlsx_cells(path))
print(json.dumps(out, ensure_ascii=False))
