#!/usr/bin/python3
"""Builds the xlsx/xls test workbooks under tests/data/xlsx and the hostile or broken
files under tests/data/broken. Run once with Debian's python3 (python3-openpyxl and
python3-xlwt installed); the outputs are kept in the repository.

Most workbooks are written part by part by hand, so that each feature the reader must
handle appears exactly as Excel, WPS or LibreOffice write it; one comes from openpyxl and
one .xls from xlwt, as real-world-shaped files.
"""
import datetime
import os
import shutil
import struct
import sys
import zipfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
GOOD = os.path.join(HERE, "xlsx")
BAD = os.path.join(HERE, "broken")

MAIN_NS = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
REL_NS = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
PKG_REL_NS = "http://schemas.openxmlformats.org/package/2006/relationships"
T_DOC = REL_NS + "/officeDocument"
T_SHEET = REL_NS + "/worksheet"
T_STYLES = REL_NS + "/styles"
T_SST = REL_NS + "/sharedStrings"
T_THEME = REL_NS + "/theme"

CONTENT_TYPES = """<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">
<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>
<Default Extension="xml" ContentType="application/xml"/>
</Types>"""


def rels(items):
    body = "".join('<Relationship Id="%s" Type="%s" Target="%s"/>' % item for item in items)
    return '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n<Relationships xmlns="%s">%s</Relationships>' % (
        PKG_REL_NS, body)


def workbook_xml(sheets, extra_pr="", views='<bookViews><workbookView/></bookViews>', defined="", doctype=""):
    items = "".join('<sheet name="%s" sheetId="%d"%s r:id="%s"/>' % (name, i + 1,
                                                                     ' state="%s"' % state if state else "", rid)
                    for i, (name, rid, state) in enumerate(sheets))
    return ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n%s<workbook xmlns="%s" xmlns:r="%s">'
            '<workbookPr%s/>%s<sheets>%s</sheets>%s</workbook>') % (doctype, MAIN_NS, REL_NS, extra_pr, views, items,
                                                                    defined)


def sheet_xml(data, before="", after=""):
    return ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n<worksheet xmlns="%s" xmlns:r="%s">%s'
            '<sheetData>%s</sheetData>%s</worksheet>') % (MAIN_NS, REL_NS, before, data, after)


def write_zip(path, parts, method=zipfile.ZIP_DEFLATED):
    with zipfile.ZipFile(path, "w", method) as z:
        for name, data in parts:
            if isinstance(data, str):
                data = data.encode("utf-8")
            info = zipfile.ZipInfo(name, date_time=(2026, 1, 1, 0, 0, 0))  # reproducible bytes
            info.compress_type = method
            z.writestr(info, data)


def simple_parts(sheet, styles=None, strings=None, workbook=None):
    """A one-sheet package with the usual part names."""
    wb_rels = [("rId1", T_SHEET, "worksheets/sheet1.xml")]
    parts = [("[Content_Types].xml", CONTENT_TYPES),
             ("_rels/.rels", rels([("rId1", T_DOC, "xl/workbook.xml")])),
             ("xl/workbook.xml", workbook or workbook_xml([("Sheet1", "rId1", None)])),
             ("xl/worksheets/sheet1.xml", sheet)]
    if styles is not None:
        wb_rels.append(("rId2", T_STYLES, "styles.xml"))
        parts.append(("xl/styles.xml", styles))
    if strings is not None:
        wb_rels.append(("rId3", T_SST, "sharedStrings.xml"))
        parts.append(("xl/sharedStrings.xml", strings))
    parts.insert(3, ("xl/_rels/workbook.xml.rels", rels(wb_rels)))
    return parts


THEME = """<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<a:theme xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main" name="Office">
<a:themeElements><a:clrScheme name="Office">
<a:dk1><a:sysClr val="windowText" lastClr="000000"/></a:dk1><a:lt1><a:sysClr val="window" lastClr="FFFFFF"/></a:lt1>
<a:dk2><a:srgbClr val="44546A"/></a:dk2><a:lt2><a:srgbClr val="E7E6E6"/></a:lt2>
<a:accent1><a:srgbClr val="4472C4"/></a:accent1><a:accent2><a:srgbClr val="ED7D31"/></a:accent2>
<a:accent3><a:srgbClr val="A5A5A5"/></a:accent3><a:accent4><a:srgbClr val="FFC000"/></a:accent4>
<a:accent5><a:srgbClr val="5B9BD5"/></a:accent5><a:accent6><a:srgbClr val="70AD47"/></a:accent6>
<a:hlink><a:srgbClr val="0563C1"/></a:hlink><a:folHlink><a:srgbClr val="954F72"/></a:folHlink>
</a:clrScheme></a:themeElements></a:theme>"""

STYLES = """<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<styleSheet xmlns="%s">
<numFmts count="3"><numFmt numFmtId="164" formatCode="0.000"/><numFmt numFmtId="165" formatCode="yyyy\\-mm\\-dd\\ hh:mm"/><numFmt numFmtId="166" formatCode="&quot;day&quot; 0"/></numFmts>
<fonts count="3">
<font><sz val="11"/><color theme="1"/><name val="宋体"/><family val="2"/><charset val="134"/></font>
<font><b/><i/><sz val="14"/><color rgb="FFFF0000"/><name val="Arial"/></font>
<font><b val="0"/><sz val="11"/><color indexed="12"/><name val="宋体"/></font>
</fonts>
<fills count="5">
<fill><patternFill patternType="none"/></fill>
<fill><patternFill patternType="gray125"/></fill>
<fill><patternFill patternType="solid"><fgColor rgb="FFFFFF00"/><bgColor indexed="64"/></patternFill></fill>
<fill><patternFill patternType="solid"><fgColor indexed="10"/><bgColor indexed="64"/></patternFill></fill>
<fill><patternFill patternType="solid"><fgColor theme="4" tint="0.79998168889431442"/><bgColor indexed="64"/></patternFill></fill>
</fills>
<borders count="1"><border><left/><right/><top/><bottom/><diagonal/></border></borders>
<cellStyleXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0"><alignment horizontal="right"/></xf></cellStyleXfs>
<cellXfs count="8">
<xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0"/>
<xf numFmtId="14" fontId="0" fillId="0" borderId="0" xfId="0" applyNumberFormat="1"/>
<xf numFmtId="164" fontId="1" fillId="2" borderId="0" xfId="0" applyAlignment="1"><alignment horizontal="center" vertical="top" wrapText="1"/></xf>
<xf numFmtId="165" fontId="0" fillId="0" borderId="0" xfId="0"/>
<xf numFmtId="0" fontId="0" fillId="3" borderId="0" xfId="0"/>
<xf numFmtId="0" fontId="2" fillId="4" borderId="0" xfId="0"><alignment horizontal="right" vertical="center"/></xf>
<xf numFmtId="166" fontId="0" fillId="0" borderId="0" xfId="0"/>
<xf numFmtId="21" fontId="0" fillId="0" borderId="0" xfId="0"/>
</cellXfs>
<cellStyles count="1"><cellStyle name="常规" xfId="0" builtinId="0"/></cellStyles>
<dxfs count="1"><dxf><font><b/><sz val="30"/></font><fill><patternFill><bgColor rgb="FF00FF00"/></patternFill></fill></dxf></dxfs>
<tableStyles count="0"/>
</styleSheet>""" % MAIN_NS

STRINGS = """<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<sst xmlns="%s" count="6" uniqueCount="5">
<si><t>名称</t></si>
<si><r><rPr><b/><sz val="11"/></rPr><t xml:space="preserve">Rich </t></r><r><t>text</t></r></si>
<si><t>東京</t><rPh sb="0" eb="2"><t>トウキョウ</t></rPh><phoneticPr fontId="1"/></si>
<si><t>line_x000D_break &amp; more</t></si>
<si><t xml:space="preserve">  spaced  </t></si>
</sst>""" % MAIN_NS

SHEET1_DATA = """
<row r="1" spans="1:6" ht="30" customHeight="1"><c r="A1" t="s"><v>0</v></c><c r="B1" s="2" t="s"><v>1</v></c><c r="C1" t="s"><v>2</v></c><c r="D1" t="inlineStr"><is><r><t>内联</t></r><r><rPr><i/></rPr><t>文本</t></r></is></c><c r="E1" t="s"><v>3</v></c><c r="F1" t="s"><v>4</v></c></row>
<row r="2"><c r="A2"><v>0.1234567</v></c><c r="B2"><v>1E+20</v></c><c r="C2"><v>-0</v></c><c r="D2" t="b"><v>1</v></c><c r="E2" t="b"><v>0</v></c><c r="F2" t="e"><v>#N/A</v></c><c r="G2" s="2"><v>3.14159</v></c></row>
<row r="3" hidden="1"><c r="A3" s="1"><v>46363</v></c><c r="B3" s="3"><v>46363.5</v></c><c r="C3" s="7"><v>0.25</v></c><c r="D3" s="6"><v>5</v></c></row>
<row r="4"><c r="A4"><f>A2*2</f><v>0.2469134</v></c><c r="B4" t="str"><f>"a"&amp;"b"</f><v>ab</v></c><c r="C4"><f t="shared" ref="C4:C5" si="0">A2+1</f><v>1.1234567</v></c><c r="D4" s="4"/><c r="E4" s="5"><v>7</v></c></row>
<row r="5"><c r="C5"><f t="shared" si="0"/><v>1.5</v></c><c r="D5" t="e"><f>1/0</f><v>#DIV/0!</v></c><c r="E5"/></row>
<row r="7"><c r="A7" t="s"><v>0</v></c><c t="n"><v>8</v></c><c r="D7" t="d"><v>2024-03-01T06:00:00</v></c></row>
<row><c><v>9</v></c></row>
<row r="10"><c r="A10" t="s"><v>0</v></c></row>
"""

SHEET1_BEFORE = """<sheetPr><tabColor rgb="FF00B050"/><pageSetUpPr fitToPage="1"/></sheetPr><dimension ref="A1:G10"/>
<sheetViews><sheetView workbookViewId="0"><selection activeCell="B2" sqref="B2"/></sheetView></sheetViews>
<sheetFormatPr defaultRowHeight="14.25" baseColWidth="8"/>
<cols><col min="1" max="1" width="12.7109375" customWidth="1"/><col min="3" max="4" width="20.7109375" customWidth="1"/><col min="6" max="6" width="5" hidden="1" customWidth="1"/></cols>"""

SHEET1_AFTER = """<mergeCells count="2"><mergeCell ref="A10:C11"/><mergeCell ref="E7:F8"/></mergeCells>
<conditionalFormatting sqref="A1:A5"><cfRule type="cellIs" dxfId="0" priority="1" operator="equal"><formula>1</formula></cfRule></conditionalFormatting>
<pageMargins left="0.5" right="0.5" top="1" bottom="1.25" header="0.4" footer="0.35"/>
<pageSetup paperSize="8" scale="85" fitToHeight="0" orientation="landscape"/>
<rowBreaks count="2" manualBreakCount="2"><brk id="20" max="16383" man="1"/><brk id="5" max="16383" man="1"/></rowBreaks>
<colBreaks count="1" manualBreakCount="1"><brk id="3" max="1048575" man="1"/></colBreaks>
<extLst><ext uri="{00000000-0000-0000-0000-000000000000}"><row r="99"><c r="ZZ1"><v>1</v></c></row></ext></extLst>"""


def make_basic():
    wb = workbook_xml([("数据", "rId1", None), ("隐藏", "rId2", "hidden"), ("Third", "rId3", None)],
                      views='<bookViews><workbookView xWindow="0" yWindow="0" activeTab="2"/></bookViews>',
                      defined='<definedNames><definedName name="_xlnm.Print_Titles" localSheetId="0">数据!$1:$2'
                              '</definedName><definedName name="Other">数据!$A$1</definedName></definedNames>')
    sheet2 = sheet_xml('<row r="1"><c r="A1" t="inlineStr"><is><t>藏</t></is></c></row>')
    sheet3 = sheet_xml('<row r="2" ht="20.25" customHeight="1"><c r="B2" t="s"><v>2</v></c></row>'
                       '<row r="3"><c r="B3"><v>42</v></c></row>')
    parts = [("[Content_Types].xml", CONTENT_TYPES),
             ("_rels/.rels", rels([("rId1", T_DOC, "xl/workbook.xml")])),
             ("xl/workbook.xml", wb),
             ("xl/_rels/workbook.xml.rels", rels([("rId1", T_SHEET, "worksheets/sheet1.xml"),
                                                  ("rId2", T_SHEET, "./worksheets/sheet2.xml"),
                                                  ("rId3", T_SHEET, "../xl/worksheets/sheet3.xml"),
                                                  ("rId4", T_STYLES, "styles.xml"),
                                                  ("rId5", T_SST, "sharedStrings.xml"),
                                                  ("rId6", T_THEME, "theme/theme1.xml")])),
             ("xl/worksheets/sheet1.xml", sheet_xml(SHEET1_DATA, SHEET1_BEFORE, SHEET1_AFTER)),
             ("xl/worksheets/sheet2.xml", sheet2),
             ("xl/worksheets/sheet3.xml", sheet3),
             ("xl/styles.xml", STYLES),
             ("xl/sharedStrings.xml", STRINGS),
             ("xl/theme/theme1.xml", THEME)]
    write_zip(os.path.join(GOOD, "basic.xlsx"), parts)
    return parts


def make_absolute_1904():
    styles = """<?xml version="1.0" encoding="UTF-8"?><styleSheet xmlns="%s">
<numFmts count="1"><numFmt numFmtId="170" formatCode="yyyy&quot;年&quot;m&quot;月&quot;d&quot;日&quot;"/></numFmts>
<fonts count="1"><font><sz val="11"/><name val="Calibri"/></font></fonts>
<fills count="2"><fill><patternFill patternType="none"/></fill><fill><patternFill patternType="gray125"/></fill></fills>
<cellXfs count="4"><xf numFmtId="0" fontId="0" fillId="0"/><xf numFmtId="14" fontId="0" fillId="0"/>
<xf numFmtId="22" fontId="0" fillId="0"/><xf numFmtId="170" fontId="0" fillId="0"/></cellXfs></styleSheet>""" % MAIN_NS
    sheet = sheet_xml('<row r="1"><c r="A1" s="1"><v>0</v></c><c r="B1" t="inlineStr"><is><t>纯内联</t></is></c></row>'
                      '<row r="2"><c r="A2" s="1"><v>44901</v></c><c r="B2" t="d"><v>2026-12-07</v></c></row>'
                      '<row r="3"><c r="A3" s="2"><v>44901.75</v></c><c r="B3" s="3"><v>44901</v></c></row>'
                      '<row r="4"><c r="A4"><v>44901</v></c></row>')
    parts = [("[Content_Types].xml", CONTENT_TYPES),
             ("_rels/.rels", rels([("rId1", T_DOC, "/xl/wb.xml")])),
             ("xl/wb.xml", workbook_xml([("日期", "rId7", None)], extra_pr=' date1904="1"')),
             ("xl/_rels/wb.xml.rels", rels([("rId7", T_SHEET, "/xl/worksheets/s1.xml"),
                                            ("rId8", T_STYLES, "/xl/styles.xml")])),
             ("xl/worksheets/s1.xml", sheet),
             ("xl/styles.xml", styles)]
    write_zip(os.path.join(GOOD, "absolute_1904.xlsx"), parts)


def make_unordered():
    """Rows and cells out of order, a row and a cell given twice: legal XML, never written by
    Excel, read as if sorted (the later of two cells wins). And 60,000 rows in descending
    order, which must not cost quadratic time."""
    data = ('<row r="3"><c r="B3"><v>32</v></c></row>'
            '<row r="1"><c r="C1"><v>13</v></c><c r="A1"><v>11</v></c><c r="B1"><v>12</v></c><c r="A1"><v>99</v></c></row>'
            '<row r="3" hidden="1"><c r="A3"><v>31</v></c></row>')
    write_zip(os.path.join(GOOD, "unordered.xlsx"), simple_parts(sheet_xml(data)))
    rows = "".join('<row r="%d"><c r="A%d"><v>%d</v></c></row>' % (r, r, r) for r in range(60000, 0, -1))
    write_zip(os.path.join(GOOD, "descending_rows.xlsx"), simple_parts(sheet_xml(rows)))


def large_strings(cells):
    """A string table of 20,000 long entries (over 8 MB, so it is read on its own thread while
    the sheet is read) and a sheet referring into it."""
    import random
    rng = random.Random(7)
    pad = "long filler text, " * 25
    texts = ["%s%03d %s" % (pad, i % 50, rng.choice("abcd")) for i in range(20000)]
    texts[0], texts[12345], texts[19999] = "第一个", "中间的", "最后一个"
    items = "".join("<si><t>%s</t></si>" % t for t in texts)
    strings = '<sst xmlns="%s" count="20000" uniqueCount="20000">%s</sst>' % (MAIN_NS, items)
    data = "".join('<row r="%d"><c r="A%d" t="s"><v>%d</v></c></row>' % (i + 1, i + 1, v) for i, v in enumerate(cells))
    return simple_parts(sheet_xml(data), strings=strings)


def make_openpyxl():
    import openpyxl
    from openpyxl.styles import Alignment, Font, PatternFill
    wb = openpyxl.Workbook()
    ws = wb.active
    ws.title = "销售"
    ws.append(["日期", "产品", "数量", "单价", "金额"])
    ws.append([datetime.date(2026, 12, 7), "苹果", 12, 2.5, "=C2*D2"])
    ws.append([datetime.datetime(2026, 12, 8, 9, 5, 7), "梨", 3, 0.1, "=C3*D3"])
    ws.append(["合计", None, None, None, "=SUM(E2:E3)"])
    ws.merge_cells("A4:D4")
    ws["A4"].alignment = Alignment(horizontal="center", vertical="center", wrap_text=True)
    ws["B2"].fill = PatternFill("solid", fgColor="FFC000")
    ws["B2"].font = Font(name="微软雅黑", size=12, bold=True, color="0000FF")
    ws["D2"].number_format = "0.00"
    ws.column_dimensions["B"].width = 25
    ws.row_dimensions[1].height = 28
    ws2 = wb.create_sheet("备注")
    ws2["A1"] = "隐藏的表"
    ws2.sheet_state = "hidden"
    wb.active = 0
    wb.save(os.path.join(GOOD, "openpyxl.xlsx"))


def make_xls():
    import xlwt
    wb = xlwt.Workbook(encoding="utf-8")
    ws = wb.add_sheet("数据")
    date = xlwt.easyxf(num_format_str="YYYY-MM-DD")
    stamp = xlwt.easyxf(num_format_str="YYYY-MM-DD HH:MM:SS")
    clock = xlwt.easyxf(num_format_str="HH:MM")
    ws.write(0, 0, "名称")
    ws.write(0, 1, "数量")
    ws.write(0, 2, "日期")
    ws.write(1, 0, "苹果")
    ws.write(1, 1, 12.5)
    ws.write(1, 2, datetime.date(2026, 12, 7), date)
    ws.write(2, 0, "梨")
    ws.write(2, 1, -3)
    ws.write(2, 2, datetime.datetime(2026, 12, 7, 9, 5, 7), stamp)
    ws.write(3, 0, "精确")
    ws.write(3, 1, 0.1234567)
    ws.write(3, 2, datetime.time(12, 30), clock)
    ws.write(4, 0, True)
    ws.write(4, 1, 123456789)
    ws2 = wb.add_sheet("Second")
    ws2.write(0, 0, "第二页")
    path = os.path.join(GOOD, "legacy.xls")
    wb.save(path)
    return path


def patch_central(data, name, crc=None, size=None):
    """Rewrites fields of one entry's central directory record (and local header)."""
    raw = bytearray(data)
    encoded = name.encode()
    at = raw.find(b"PK\x01\x02")
    while at >= 0:
        name_length = struct.unpack_from("<H", raw, at + 28)[0]
        if bytes(raw[at + 46:at + 46 + name_length]) == encoded:
            local = struct.unpack_from("<I", raw, at + 42)[0]
            if crc is not None:
                struct.pack_into("<I", raw, at + 16, crc)
                struct.pack_into("<I", raw, local + 14, crc)
            if size is not None:
                struct.pack_into("<I", raw, at + 24, size)
                struct.pack_into("<I", raw, local + 22, size)
            return bytes(raw)
        at = raw.find(b"PK\x01\x02", at + 4)
    raise SystemExit("entry not found: " + name)


def make_broken(basic_parts, xls_path):
    def bad(name, parts, method=zipfile.ZIP_DEFLATED):
        write_zip(os.path.join(BAD, name), parts, method)

    def bad_sheet_entry(name, parts, **fields):
        """A package whose sheet entry's directory record says other `fields` (crc, size)."""
        path = os.path.join(BAD, name)
        write_zip(path, parts)
        with open(path, "rb") as f:
            data = f.read()
        with open(path, "wb") as f:
            f.write(patch_central(data, "xl/worksheets/sheet1.xml", **fields))

    ok_sheet = sheet_xml('<row r="1"><c r="A1"><v>1</v></c></row>')

    # A small file whose sheet inflates to 64 MB.
    bomb = b"<" * (64 << 20)
    bad("zip_bomb.xlsx", simple_parts(bomb))

    # The sheet declares 1000 bytes but inflates to 10 MB.
    bad_sheet_entry("lying_size.xlsx", simple_parts(sheet_xml("<row/>" * ((10 << 20) // 6))), size=1000)

    # Declares more than it holds.
    bad_sheet_entry("short_entry.xlsx", simple_parts(ok_sheet), size=5000)

    # A CRC that does not match.
    bad_sheet_entry("bad_crc.xlsx", simple_parts(ok_sheet), crc=0x12345678)

    # More entries than any workbook has.
    many = simple_parts(ok_sheet) + [("x/%04d" % i, b"") for i in range(5000)]
    bad("too_many_entries.xlsx", many, zipfile.ZIP_STORED)

    # The same part twice.
    import warnings
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        bad("duplicate_entry.xlsx", simple_parts(ok_sheet) + [("xl/worksheets/sheet1.xml", ok_sheet)])

    # Truncated and empty files.
    with open(os.path.join(GOOD, "basic.xlsx"), "rb") as f:
        data = f.read()
    with open(os.path.join(BAD, "truncated.xlsx"), "wb") as f:
        f.write(data[:len(data) * 6 // 10])
    open(os.path.join(BAD, "empty.xlsx"), "wb").close()

    # Entities: a billion laughs in a sheet, an external entity in the workbook part.
    laughs = ('<?xml version="1.0"?>\n<!DOCTYPE worksheet [<!ENTITY a "lollollollollollollollollollol">'
              + "".join('<!ENTITY %s "%s">' % (chr(98 + i), ("&%s;" % chr(97 + i)) * 10) for i in range(9))
              + ']>\n<worksheet xmlns="%s"><sheetData><row r="1"><c r="A1" t="inlineStr"><is><t>&j;</t></is></c>'
                '</row></sheetData></worksheet>' % MAIN_NS)
    bad("billion_laughs.xlsx", simple_parts(laughs))
    external = workbook_xml([("&xxe;", "rId1", None)],
                            doctype='<!DOCTYPE workbook [<!ENTITY xxe SYSTEM "file:///etc/passwd">]>\n')
    bad("external_entity.xlsx", simple_parts(ok_sheet, workbook=external))

    # Nesting far deeper than any workbook part.
    deep = sheet_xml("", before="<a>" * 100000 + "</a>" * 100000)
    bad("deep_nesting.xlsx", simple_parts(deep))

    # References beyond XFD1048576.
    bad("beyond_column.xlsx", simple_parts(sheet_xml('<row r="1"><c r="XFE1"><v>1</v></c></row>')))
    bad("beyond_row.xlsx", simple_parts(sheet_xml('<row r="1048577"><c><v>1</v></c></row>')))

    # A dimension claiming the whole grid around two cells: read without allocating for it.
    bad("whole_grid_dimension.xlsx", simple_parts(sheet_xml(
        '<row r="1"><c r="A1"><v>1</v></c></row><row r="1048576"><c r="XFD1048576"><v>2</v></c></row>',
        before='<dimension ref="A1:XFD1048576"/>')))

    # Indexes into tables that do not have them.
    strings = ('<sst xmlns="%s" count="2" uniqueCount="2"><si><t>a</t></si><si><t>b</t></si></sst>' % MAIN_NS)
    bad("string_index.xlsx", simple_parts(sheet_xml('<row r="1"><c r="A1" t="s"><v>1</v></c>'
                                                    '<c r="B1" t="s"><v>7</v></c></row>'), strings=strings))
    styles = ('<styleSheet xmlns="%s"><cellXfs count="2"><xf numFmtId="0"/><xf numFmtId="14"/></cellXfs>'
              '</styleSheet>' % MAIN_NS)
    bad("style_index.xlsx", simple_parts(sheet_xml('<row r="1"><c r="A1" s="1"><v>1</v></c>'
                                                   '<c r="C3" s="9"><v>1</v></c></row>'), styles=styles))

    bad("string_index_parallel.xlsx", large_strings([0, 20000]))

    # A zip that is not a workbook.
    bad("not_a_workbook.xlsx", [("readme.txt", "hello")])

    # An .xls whose FAT sends the workbook stream to a sector past the end of the file.
    with open(xls_path, "rb") as f:
        xls = bytearray(f.read())
    sector_size = 1 << struct.unpack_from("<H", xls, 30)[0]
    first_fat = struct.unpack_from("<I", xls, 76)[0]
    fat_at = (first_fat + 1) * sector_size
    for i in range(sector_size // 4):
        entry = struct.unpack_from("<I", xls, fat_at + 4 * i)[0]
        if entry < 0xFFFFFFFA and entry != 0:
            struct.pack_into("<I", xls, fat_at + 4 * i, 0x00FFFFF0)
    with open(os.path.join(BAD, "broken_chain.xls"), "wb") as f:
        f.write(xls)

    # A password-protected .xlsx is a compound document holding an "EncryptedPackage"
    # stream; made here by renaming the workbook stream of the .xls.
    with open(xls_path, "rb") as f:
        xls = bytearray(f.read())
    old = "Workbook".encode("utf-16-le")
    at = xls.find(old + b"\0\0")
    assert at >= 0
    new = "EncryptedPackage".encode("utf-16-le") + b"\0\0"
    xls[at:at + len(new)] = new
    struct.pack_into("<H", xls, at + 64, len(new))
    with open(os.path.join(BAD, "encrypted.xlsx"), "wb") as f:
        f.write(xls)

    # A binary workbook (.xlsb) is a zip too.
    bad("binary_workbook.xlsb", [("[Content_Types].xml", CONTENT_TYPES),
                                 ("_rels/.rels", rels([("rId1", T_DOC, "xl/workbook.bin")])),
                                 ("xl/workbook.bin", b"\x83\x01\x00")])

    # An .xls under an .xlsx name opens by its content.
    shutil.copyfile(xls_path, os.path.join(GOOD, "renamed_xls.xlsx"))


def main():
    os.makedirs(GOOD, exist_ok=True)
    os.makedirs(BAD, exist_ok=True)
    parts = make_basic()
    make_absolute_1904()
    make_unordered()
    write_zip(os.path.join(GOOD, "large_strings.xlsx"), large_strings([0, 12345, 19999]))
    make_openpyxl()
    xls = make_xls()
    make_broken(parts, xls)


if __name__ == "__main__":
    sys.exit(main())
