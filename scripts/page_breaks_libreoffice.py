#!/usr/bin/env python3
"""Prints where LibreOffice starts page 2 for a set of small workbooks with different page
setups, beside the row Quellar computes for the same setup (the values of
tests/pagebreaks_test.cpp). Not part of the build or the tests; it needs LibreOffice
(libreoffice-calc-nogui) and pdftotext (poppler-utils). See docs/page-breaks.md.

Usage: scripts/page_breaks_libreoffice.py [work directory]
"""
import os, re, subprocess, sys, tempfile, zipfile

# name: (workbook options, Quellar's first row of page 2)
CASES = {
    "a4":                ({}, 55),
    "rows15":            ({"default_ht": 15}, 49),
    "landscape":         ({"landscape": True}, 37),
    "letter":            ({"paper": 1}, 51),
    "a3":                ({"paper": 8}, 81),
    "legal":             ({"paper": 5}, 67),
    "a5":                ({"paper": 11}, 37),
    "b5":                ({"paper": 13}, 46),
    "prc16k":            ({"paper": 93}, 38),
    "margins":           ({"top": 1.5, "bottom": 1.0}, 50),
    "header_margin":     ({"top": 0.3, "header": 1.0, "header_text": "&amp;CTitle"}, 57),
    "custom_heights":    ({"heights": {3: 40, 10: 60, 11: 5, 20: 100}}, 44),
    "hidden":            ({"hidden": range(2, 12)}, 65),
    "scale50":           ({"scale": 50}, 109),
    "scale75":           ({"scale": 75}, 73),
    "scale150":          ({"scale": 150}, 37),
    "letter_land_65":    ({"paper": 1, "landscape": True, "scale": 65, "heights": {7: 50}}, 55),
    "tall_row":          ({"scale": 200, "heights": {5: 409}}, 5),
    "tiny_rows":         ({"default_ht": 3, "rows": 400}, 245),
    "titles":            ({"titles": (1, 2)}, 55),
    "titles_lower":      ({"titles": (3, 4)}, 55),
    "fit_1x1":           ({"fit": (1, 1)}, -1),
    "fit_1x2":           ({"fit": (1, 2), "rows": 150}, 76),
    "fit_1x3":           ({"fit": (1, 3)}, 68),
    "fit_1x3_titles":    ({"fit": (1, 3), "titles": (1, 3), "heights": {1: 30, 2: 30, 3: 30}}, 70),
    "fit_1x0":           ({"fit": (1, 0)}, 55),
    "fit_wide_1x0":      ({"fit": (1, 0), "cols": (30, 20), "rows": 800}, 363),
    "fit_wide_1x5":      ({"fit": (1, 5), "cols": (30, 20), "rows": 800}, 363),
    "fit_wide_2x0":      ({"fit": (2, 0), "cols": (20, 12), "rows": 800}, 70),
    "manual":            ({"breaks": (20,)}, 20),
    "manual_late":       ({"breaks": (100,)}, 55),
    "manual_fit_1x1":    ({"breaks": (20,), "fit": (1, 1)}, -1),
    "leading_empty":     ({"first_row": 5}, 55),
    "short":             ({"rows": 10}, 55),
}

def column_name(n):
    s = ""
    while n:
        n, r = divmod(n - 1, 26)
        s = chr(65 + r) + s
    return s

def write_xlsx(path, rows=200, default_ht=13.5, heights={}, hidden=(), paper=9, landscape=False, top=0.75,
               bottom=0.75, header=0.3, footer=0.3, scale=None, fit=None, titles=None, breaks=(), first_row=1,
               header_text=None, cols=None):
    ws = ['<?xml version="1.0" encoding="UTF-8" standalone="yes"?>',
          '<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">']
    if fit:
        ws.append('<sheetPr><pageSetUpPr fitToPage="1"/></sheetPr>')
    ws.append('<sheetFormatPr defaultRowHeight="%s" customHeight="1"/>' % default_ht)
    if cols:
        ws.append('<cols><col min="1" max="%d" width="%s" customWidth="1"/></cols>' % cols)
    ws.append('<sheetData>')
    for r in range(first_row, rows + 1):
        attrs = (' ht="%s" customHeight="1"' % heights[r]) if r in heights else ''
        attrs += ' hidden="1"' if r in hidden else ''
        last = '<c r="%s%d"><v>1</v></c>' % (column_name(cols[0]), r) if cols else ''
        ws.append('<row r="%d"%s><c r="A%d" t="inlineStr"><is><t>R%d</t></is></c>%s</row>' % (r, attrs, r, r, last))
    ws.append('</sheetData>')
    ws.append('<pageMargins left="0.7" right="0.7" top="%s" bottom="%s" header="%s" footer="%s"/>'
              % (top, bottom, header, footer))
    setup = '<pageSetup paperSize="%d" orientation="%s"' % (paper, 'landscape' if landscape else 'portrait')
    if scale:
        setup += ' scale="%d"' % scale
    if fit:
        setup += ' fitToWidth="%d" fitToHeight="%d"' % fit
    ws.append(setup + '/>')
    if header_text:
        ws.append('<headerFooter><oddHeader>%s</oddHeader></headerFooter>' % header_text)
    if breaks:
        ws.append('<rowBreaks count="%d" manualBreakCount="%d">' % (len(breaks), len(breaks)))
        ws += ['<brk id="%d" max="16383" man="1"/>' % (b - 1) for b in breaks]
        ws.append('</rowBreaks>')
    ws.append('</worksheet>')
    names = ''
    if titles:
        names = ('<definedNames><definedName name="_xlnm.Print_Titles" localSheetId="0">Sheet1!$%d:$%d'
                 '</definedName></definedNames>' % titles)
    ns = 'http://schemas.openxmlformats.org'
    rel = ns + '/officeDocument/2006/relationships'
    with zipfile.ZipFile(path, 'w', zipfile.ZIP_DEFLATED) as z:
        z.writestr('[Content_Types].xml',
                   '<?xml version="1.0" encoding="UTF-8"?><Types xmlns="%s/package/2006/content-types">'
                   '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
                   '<Default Extension="xml" ContentType="application/xml"/>'
                   '<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-'
                   'officedocument.spreadsheetml.sheet.main+xml"/>'
                   '<Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-'
                   'officedocument.spreadsheetml.worksheet+xml"/></Types>' % ns)
        z.writestr('_rels/.rels', '<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="%s/package/2006/'
                   'relationships"><Relationship Id="rId1" Type="%s/officeDocument" Target="xl/workbook.xml"/>'
                   '</Relationships>' % (ns, rel))
        z.writestr('xl/workbook.xml', '<?xml version="1.0" encoding="UTF-8"?><workbook xmlns="%s/spreadsheetml/2006/'
                   'main" xmlns:r="%s"><sheets><sheet name="Sheet1" sheetId="1" r:id="rId1"/></sheets>%s</workbook>'
                   % (ns, rel, names))
        z.writestr('xl/_rels/workbook.xml.rels', '<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="%s/'
                   'package/2006/relationships"><Relationship Id="rId1" Type="%s/worksheet" '
                   'Target="worksheets/sheet1.xml"/></Relationships>' % (ns, rel))
        z.writestr('xl/worksheets/sheet1.xml', '\n'.join(ws))

def first_row_of_page_2(pdf):
    text = subprocess.run(['pdftotext', '-f', '2', '-l', '2', pdf, '-'], capture_output=True, text=True).stdout
    numbers = [int(m) for m in re.findall(r'^R(\d+)$', text, re.M)]
    page1 = subprocess.run(['pdftotext', '-f', '1', '-l', '1', pdf, '-'], capture_output=True, text=True).stdout
    last1 = max([int(m) for m in re.findall(r'^R(\d+)$', page1, re.M)] or [0])
    # Repeated title rows come first on page 2; the page starts at the first row after page 1.
    later = [n for n in numbers if n > last1]
    if later:
        return later[0]
    # A row taller than the page shows no text once clipped: page 2 holds the row after page 1.
    info = subprocess.run(['pdfinfo', pdf], capture_output=True, text=True).stdout
    pages = int(re.search(r'^Pages:\s+(\d+)', info, re.M).group(1))
    return last1 + 1 if pages > 1 else -1

def main():
    work = sys.argv[1] if len(sys.argv) > 1 else tempfile.mkdtemp(prefix='page-breaks-')
    os.makedirs(work, exist_ok=True)
    files = []
    for name, (options, _) in CASES.items():
        path = os.path.join(work, name + '.xlsx')
        write_xlsx(path, **options)
        files.append(path)
    subprocess.run(['soffice', '--headless', '--norestore', '-env:UserInstallation=file://' + work + '/profile',
                    '--convert-to', 'pdf', '--outdir', work] + files, check=True, capture_output=True)
    print('%-18s %12s %8s' % ('case', 'LibreOffice', 'Quellar'))
    for name, (_, ours) in CASES.items():
        theirs = first_row_of_page_2(os.path.join(work, name + '.pdf'))
        print('%-18s %12d %8d%s' % (name, theirs, ours, '' if theirs == ours else '   differs'))

if __name__ == '__main__':
    main()
