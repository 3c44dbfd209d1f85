#!/usr/bin/env python3
"""Seeds the fuzz corpora from the test workbooks in tests/data: whole files for the
container and file readers, the parts of each xlsx for the part targets, a few typed texts
for the text targets. Files already there are kept; run it again after adding test data."""
import hashlib
import pathlib
import zipfile

root = pathlib.Path(__file__).resolve().parent.parent
data = root / "tests" / "data"
corpus = root / "fuzz" / "corpus"
LIMIT = 120_000  # larger files slow every fuzz iteration down for little gain


def put(target, content):
    if len(content) > LIMIT:
        return
    folder = corpus / target
    folder.mkdir(parents=True, exist_ok=True)
    (folder / hashlib.sha1(content).hexdigest()).write_bytes(content)


def workbook_stream(content):
    """The Workbook (or Book) stream of a compound file, through xlrd's reader (python3-xlrd)."""
    try:
        from xlrd import compdoc
    except ImportError:
        return None
    try:
        doc = compdoc.CompDoc(content, logfile=open("/dev/null", "w"))
        for name in ("Workbook", "WORKBOOK", "Book", "BOOK"):
            stream = doc.get_named_stream(name)
            if stream:
                return bytes(stream)
    except Exception:
        return None
    return None


for path in sorted(data.rglob("*")):
    if not path.is_file():
        continue
    content = path.read_bytes()
    suffix = path.suffix.lower()
    if content[:2] == b"PK":
        put("zip", content)
        try:
            with zipfile.ZipFile(path) as z:
                for name in z.namelist():
                    part = z.read(name)
                    if name.startswith("xl/worksheets/") and name.endswith(".xml"):
                        put("xlsx_sheet", part)
                    elif name.endswith("sharedStrings.xml"):
                        put("xlsx_shared_strings", part)
                    elif name.endswith("styles.xml"):
                        put("xlsx_styles", part)
                    elif name.endswith("workbook.xml"):
                        put("xlsx_workbook", part)
        except Exception:
            pass  # a deliberately broken container is a seed for "zip" only
    elif content[:4] == b"\xd0\xcf\x11\xe0":
        put("xls", content)
        put("xls_container", content)
        stream = workbook_stream(content)
        if stream:
            put("xls_records", stream)
    elif suffix == ".xml":
        put("xml_spreadsheet", content)
        put("xmltools", content)
    elif suffix == ".csv":
        put("csv", content)

for text in ["0", "-12.5", "1,234.50", " 3 ", "1.2.3", "-", ".", "1e5", "007", "99999999999.9",
             "123456789012345678", "，", "１２３"]:
    put("parse_number", text.encode())
for text in ["A1:D20", "a1:d20", "C10:A1", "XFD1048576:A1", "A1:XFE1", "AAAZ1:B2", "B3", ":A1", "A1:",
             "A0:B2", "A1:B1048577", "甲1:B2"]:
    put("range_text", text.encode())
for text in ["地区|=|东部|and", "数量|>=|10|and|地区|=|东部|and", "金额|<|0|and|", "a||b", "|a", "a|b||", "  ", "姓名|!=||and"]:
    put("split_tokens", text.encode())
    put("condition_text", text.encode())
for text in ["地区|=|东部|and\n地区\nD (金额)", "金额|>|0|and\n地区|姓名\nD (金额)|E (数量)", "\n\n", "地区|=|东部|and\n地区||姓名\nD"]:
    put("form_reply", text.encode())
