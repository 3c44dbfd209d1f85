// The .xlsx writer's package: every part's elements stand in the order of its schema; the
// parts and relationships are those Excel's packages have; numbers and texts at their edges
// read back exactly; what openpyxl reads from our file equals what it reads from
// libxlsxwriter's file of the same workbook; LibreOffice opens our files; the zip container's
// streamed and ZIP64 forms; a cancelled write leaves nothing behind.

#include "base/CellOps.h"
#include "base/Progress.h"
#include "tests/TestSupport.h"
#include "tests/reference/LibxlsxwriterWriter.h"
#include "workbook/Workbook.h"
#include "workbook/WorkbookFormat.h"
#include "workbook/containers/XmlScanner.h"
#include "workbook/containers/ZipArchive.h"
#include "workbook/containers/ZipWriter.h"
#include "workbook/xlsx/XlsxFormat.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <random>
#include <set>

namespace quellar {
namespace {

// ---------------------------------------------------------------------------------------------
// The schema's element order, written out: for each parent element, its children in the order
// of its xsd:sequence. Parents whose children may come in any order (xsd:choice, xsd:all) are
// listed with `ordered` false.

struct ChildOrder {
    bool ordered;
    std::vector<std::string> children;
    ChildOrder(bool inOrder, const char* names)
        : ordered(inOrder) {
        for (const QString& name : QString::fromLatin1(names).split(u' ', Qt::SkipEmptyParts))
            children.push_back(name.toStdString());
    }
};

const std::map<std::string, ChildOrder>& schemaOrder() {
    static const std::map<std::string, ChildOrder> order = {
        // CT_Worksheet and what the writer puts inside it
        {"worksheet",
         {true, "sheetPr dimension sheetViews sheetFormatPr cols sheetData sheetCalcPr "
                "sheetProtection protectedRanges scenarios autoFilter sortState dataConsolidate "
                "customSheetViews mergeCells phoneticPr conditionalFormatting dataValidations "
                "hyperlinks printOptions pageMargins pageSetup headerFooter rowBreaks colBreaks "
                "customProperties cellWatches ignoredErrors smartTags drawing legacyDrawing "
                "legacyDrawingHF picture oleObjects controls webPublishItems tableParts extLst"}},
        {"sheetPr", {true, "tabColor outlinePr pageSetUpPr"}},
        {"sheetViews", {true, "sheetView extLst"}},
        {"sheetView", {true, "pane selection pivotSelection extLst"}},
        {"cols", {true, "col"}},
        {"sheetData", {true, "row"}},
        {"row", {true, "c extLst"}},
        {"c", {true, "f v is extLst"}},
        {"is", {true, "t r rPh phoneticPr"}},
        {"mergeCells", {true, "mergeCell"}},
        {"headerFooter", {true, "oddHeader oddFooter evenHeader evenFooter firstHeader firstFooter"}},
        {"rowBreaks", {true, "brk"}},
        // CT_Workbook
        {"workbook",
         {true, "fileVersion fileSharing workbookPr workbookProtection bookViews sheets "
                "functionGroups externalReferences definedNames calcPr oleSize customWorkbookViews "
                "pivotCaches smartTagPr smartTagTypes webPublishing fileRecoveryPr webPublishObjects "
                "extLst"}},
        {"bookViews", {true, "workbookView"}},
        {"sheets", {true, "sheet"}},
        {"definedNames", {true, "definedName"}},
        // CT_Stylesheet
        {"styleSheet",
         {true, "numFmts fonts fills borders cellStyleXfs cellXfs cellStyles dxfs tableStyles "
                "colors extLst"}},
        {"numFmts", {true, "numFmt"}},
        {"fonts", {true, "font"}},
        {"font",
         {false, "b i strike condense extend outline shadow u vertAlign sz color name family charset "
                 "scheme"}},
        {"fills", {true, "fill"}},
        {"fill", {true, "patternFill gradientFill"}},
        {"patternFill", {true, "fgColor bgColor"}},
        {"borders", {true, "border"}},
        {"border", {true, "start end left right top bottom diagonal vertical horizontal"}},
        {"cellStyleXfs", {true, "xf"}},
        {"cellXfs", {true, "xf"}},
        {"xf", {true, "alignment protection extLst"}},
        {"cellStyles", {true, "cellStyle"}},
        // The package's parts
        {"Types", {false, "Default Override"}},
        {"Relationships", {true, "Relationship"}},
        {"Properties",
         {false, "Application DocSecurity ScaleCrop HeadingPairs TitlesOfParts Company "
                 "LinksUpToDate SharedDoc HyperlinksChanged AppVersion"}},
        {"coreProperties", {false, "creator lastModifiedBy created modified"}},
        {"theme", {true, "themeElements objectDefaults extraClrSchemeLst custClrLst extLst"}},
        {"themeElements", {true, "clrScheme fontScheme fmtScheme extLst"}},
    };
    return order;
}

// Every element under a parent of schemaOrder() is one of its children, in their order; the
// root element has an entry. Returns what is wrong, or an empty text.
std::string elementOrderProblems(const std::string& part, const std::string& xml) {
    MemoryByteSource source{std::string_view(xml)};
    XmlScanner sc(source);
    struct Open {
        std::string name;
        int lastPosition = -1;
    };
    std::vector<Open> open;
    for (;;) {
        const XmlScanner::Token t = sc.next();
        if (t == XmlScanner::Token::Error) return part + ": " + sc.status().message().toStdString();
        if (t == XmlScanner::Token::EndDocument) break;
        if (t == XmlScanner::Token::EndElement) {
            open.pop_back();
            continue;
        }
        if (t != XmlScanner::Token::StartElement) continue;
        const std::string name(sc.localName());
        if (open.empty() && !schemaOrder().count(name))
            return part + ": root <" + name + "> has no schema order";
        if (!open.empty()) {
            const auto rule = schemaOrder().find(open.back().name);
            if (rule != schemaOrder().end()) {
                const auto& children = rule->second.children;
                const auto at = std::find(children.begin(), children.end(), name);
                if (at == children.end())
                    return part + ": <" + name + "> is no child of <" + open.back().name + ">";
                const int position = int(at - children.begin());
                if (rule->second.ordered && position < open.back().lastPosition)
                    return part + ": <" + name + "> comes after a later child of <" + open.back().name + ">";
                open.back().lastPosition = position;
            }
        }
        open.push_back({name});
    }
    return {};
}

std::map<std::string, std::string> packageParts(const QString& path) {
    std::map<std::string, std::string> parts;
    ZipArchive zip;
    const Status opened = zip.open(path);
    EXPECT_TRUE(opened.isOk()) << opened.message().toStdString();
    for (const ZipEntry& entry : zip.entries())
        EXPECT_TRUE(zip.readEntry(entry, parts[entry.name]).isOk()) << entry.name;
    return parts;
}

// A workbook with every feature the writer keeps.
Workbook featureWorkbook() {
    Workbook book;
    Style bold;
    bold.bold = true;
    bold.italic = true;
    bold.fontName = QStringLiteral("Arial");
    bold.fontSize = 14;
    bold.hasFontColor = true;
    bold.fontRgb = 0xFF0000;
    bold.hasFill = true;
    bold.fillRgb = 0xDAE3F3;
    bold.fillPalette = nearestPaletteIndex(0xDAE3F3);
    bold.horizontal = HAlign::Center;
    bold.vertical = VAlign::Top;
    bold.wrapText = true;
    bold.numberFormat = QStringLiteral("0.000");
    const uint32_t styled = book.internStyle(bold);
    Style date;
    date.numberFormat = QStringLiteral("yyyy-mm-dd");
    const uint32_t dated = book.internStyle(date);

    Sheet& s = book.sheets.emplace_back();
    s.name = QStringLiteral("数据");
    s.cellAt(0, 0).value = CellValue::fromString(SharedText(u"名称"));
    s.cellAt(0, 1).value = CellValue::fromNumber(1.5);
    s.cellAt(0, 1).style = styled;
    s.cellAt(0, 2).value = CellValue::fromDateTime(46363.25);
    s.cellAt(0, 3).value = CellValue::fromDateTime(46363);
    s.cellAt(0, 3).style = dated;
    s.cellAt(1, 0).value = CellValue::fromNumber(3);
    s.cellAt(1, 0).formula = SharedText(u"=B1*2");
    s.cellAt(1, 1).value = CellValue::fromBoolean(true);
    s.cellAt(1, 2).value = CellValue::fromError(SharedText(u"#N/A"));
    s.cellAt(1, 3).style = styled; // a formatted blank
    s.rowAt(2).height = 30;
    s.rowAt(3).hidden = true;
    s.cellAt(3, 0).value = CellValue::fromString(SharedText(u"藏"));
    s.merges.push_back({4, 0, 5, 2});
    s.columnWidths[0] = 90;
    s.columnWidths[2] = 0;
    s.defaultColumnWidth = 54;
    s.defaultRowHeight = 18;
    s.isProtected = true;
    s.pageSetup.landscape = true;
    s.pageSetup.paperSize = 8;
    s.pageSetup.fitToPage = true;
    s.pageSetup.fitToHeight = 0;
    s.pageSetup.marginHeader = 0.4;
    s.pageSetup.marginFooter = 0.35;
    s.pageSetup.printTitleFirstRow = 0;
    s.pageSetup.printTitleLastRow = 1;
    s.rowBreaks = {20, 5};
    Sheet& hidden = book.sheets.emplace_back();
    hidden.name = QStringLiteral("隐藏");
    hidden.hidden = true;
    hidden.cellAt(0, 0).value = CellValue::fromNumber(1);
    Sheet& third = book.sheets.emplace_back();
    third.name = QStringLiteral("Third");
    third.pageSetup.scale = 80;
    book.activeSheet = 2;
    return book;
}

TEST(XlsxWriterParts, EveryPartKeepsItsSchemasElementOrder) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("order.xlsx"));
    const Status written = writeWorkbook(featureWorkbook(), path, FileKind::Xlsx);
    ASSERT_TRUE(written.isOk()) << written.message().toStdString();
    const std::map<std::string, std::string> parts = packageParts(path);
    // The parts libxlsxwriter writes (texts are inline, so there are no shared strings).
    std::set<std::string> names;
    for (const auto& [name, xml] : parts)
        names.insert(name);
    EXPECT_EQ(names,
              (std::set<std::string>{"[Content_Types].xml", "_rels/.rels", "docProps/app.xml",
                                     "docProps/core.xml", "xl/workbook.xml", "xl/_rels/workbook.xml.rels",
                                     "xl/styles.xml", "xl/theme/theme1.xml", "xl/worksheets/sheet1.xml",
                                     "xl/worksheets/sheet2.xml", "xl/worksheets/sheet3.xml"}));
    for (const auto& [name, xml] : parts)
        EXPECT_EQ(elementOrderProblems(name, xml), "");
    // Every element the feature workbook needs is there, so the order above was checked on them.
    const std::string& sheet = parts.at("xl/worksheets/sheet1.xml");
    for (const char* element : {"<sheetPr>", "<dimension ", "<sheetViews>", "<sheetFormatPr ", "<cols>",
                                "<sheetData>", "<sheetProtection ", "<mergeCells ", "<pageMargins ",
                                "<pageSetup ", "<headerFooter>", "<rowBreaks "})
        EXPECT_NE(sheet.find(element), std::string::npos) << element;
    EXPECT_NE(parts.at("xl/workbook.xml").find("<definedNames>"), std::string::npos);
    EXPECT_NE(parts.at("xl/styles.xml").find("<numFmts "), std::string::npos);
    // Every relationship's target and every content-type override is a part of the package.
    for (const auto& [rels, base] : std::vector<std::pair<std::string, std::string>>{
             {"_rels/.rels", ""}, {"xl/_rels/workbook.xml.rels", "xl/"}}) {
        const std::string& xml = parts.at(rels);
        for (size_t at = xml.find("Target=\""); at != std::string::npos; at = xml.find("Target=\"", at + 1)) {
            const size_t start = at + 8;
            EXPECT_TRUE(parts.count(base + xml.substr(start, xml.find('"', start) - start))) << xml;
        }
    }
    const std::string& types = parts.at("[Content_Types].xml");
    for (size_t at = types.find("PartName=\"/"); at != std::string::npos;
         at = types.find("PartName=\"/", at + 1)) {
        const size_t start = at + 11;
        EXPECT_TRUE(parts.count(types.substr(start, types.find('"', start) - start))) << types;
    }
}

// ---------------------------------------------------------------------------------------------
// Values at their edges

TEST(XlsxWriterParts, NumbersAndTextsAtTheirEdgesReadBackExactly) {
    const double numbers[] = {10000000,
                              1e15 - 1,
                              1e15,
                              123456789012345678.0,
                              0.1 + 0.2,
                              1e-7,
                              -0.0,
                              5e-324,
                              1.7976931348623157e308,
                              -1.5,
                              0.1,
                              100,
                              1e21,
                              -1e-300,
                              2.5e-5,
                              4503599627370497.0,
                              9007199254740993.0};
    const QString texts[] = {
        QStringLiteral("全角ＡＢＣ１２３，。"),
        QString::fromUtf8("emoji 😀👍🏽 和 𠀀"),
        QStringLiteral("  leading and trailing  "),
        QStringLiteral("a & b < c > d \"e\" 'f'"),
        QStringLiteral("line\r\nbreak\ttab"),
        QString(QChar(1)) + QStringLiteral("control") + QChar(0x1F),
        QStringLiteral("_x0041_ stays as written"),
        QStringLiteral("10000000"),
        QString(32767, u'长'),
    };
    Workbook book;
    Sheet& s = book.sheets.emplace_back();
    s.name = QStringLiteral("边界");
    int row = 0;
    for (double n : numbers)
        s.cellAt(row++, 0).value = CellValue::fromNumber(n);
    row = 0;
    for (const QString& t : texts)
        s.cellAt(row++, 1).value = CellValue::fromString(SharedText(t));
    s.cellAt(0, 2).value = CellValue::fromDateTime(46363);    // a date
    s.cellAt(1, 2).value = CellValue::fromDateTime(46363.75); // with a time
    s.cellAt(2, 2).value = CellValue::fromDateTime(0.5);      // a time of day
    s.cellAt(3, 2).value = CellValue::fromDateTime(1.5);      // a duration past a day
    s.cellAt(4, 2).value = CellValue::fromString(SharedText(u"x"));
    s.cellAt(4, 2).formula = SharedText(u"=\"x\"&\"_x0041_\"");
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("edges.xlsx"));
    const Status written = writeWorkbook(book, path, FileKind::Xlsx);
    ASSERT_TRUE(written.isOk()) << written.message().toStdString();
    Workbook back;
    const Status read = readWorkbook(path, back);
    ASSERT_TRUE(read.isOk()) << read.message().toStdString();
    const Sheet& t = back.sheets.at(0);
    for (size_t i = 0; i < std::size(numbers); ++i) {
        const Cell* c = t.cell(int32_t(i), 0);
        ASSERT_NE(c, nullptr) << i;
        const double got = c->value.number();
        EXPECT_EQ(std::memcmp(&got, &numbers[i], sizeof got), 0) << numbers[i] << " read back as " << got;
    }
    for (size_t i = 0; i < std::size(texts); ++i) {
        const Cell* c = t.cell(int32_t(i), 1);
        ASSERT_NE(c, nullptr) << i;
        EXPECT_EQ(c->value.text().toQString(), texts[i]) << i;
    }
    for (int r = 0; r < 4; ++r) {
        const Cell* c = t.cell(r, 2);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c->value.type(), CellValue::Type::DateTime) << r;
        EXPECT_EQ(c->value.number(), s.cell(r, 2)->value.number()) << r;
    }
    EXPECT_EQ(t.cell(4, 2)->formula.toQString(), QStringLiteral("=\"x\"&\"_x0041_\""));
    // The number texts: plain digits for whole numbers, the shortest exact form otherwise.
    const std::string xml = packageParts(path).at("xl/worksheets/sheet1.xml");
    for (const char* text :
         {"<v>10000000</v>", "<v>999999999999999</v>", "<v>1000000000000000</v>", "<v>1e-7</v>",
          "<v>0.30000000000000004</v>", "<v>-0</v>", "<v>5e-324</v>", "<v>0.1</v>"})
        EXPECT_NE(xml.find(text), std::string::npos) << text;
}

// ---------------------------------------------------------------------------------------------
// openpyxl reads our file as it reads libxlsxwriter's, and LibreOffice opens it

class RandomBooks {
public:
    explicit RandomBooks(uint32_t seed)
        : rng_(seed) {}

    Workbook next() {
        Workbook book;
        book.defaultFontName = pick<QString>({QStringLiteral("宋体"), QStringLiteral("Calibri")});
        book.defaultFontSize = pick<double>({11, 11, 12});
        std::vector<uint32_t> styles{0};
        for (int i = 0; i < 6; ++i)
            styles.push_back(book.internStyle(randomStyle()));
        const int sheets = 1 + int(rng_() % 5);
        for (int i = 0; i < sheets; ++i) {
            Sheet& s = book.sheets.emplace_back();
            s.name =
                pick<QString>({QStringLiteral("表%1").arg(i), QStringLiteral("Sheet/%1").arg(i),
                               QStringLiteral("数据😀%1").arg(i), QStringLiteral("很长的名字").repeated(8)});
            if (rng_() % 5 == 0) continue; // an empty sheet
            fillSheet(s, styles);
        }
        book.activeSheet = int(rng_() % uint32_t(sheets));
        for (size_t i = 0; i < book.sheets.size(); ++i)
            book.sheets[i].hidden = int(i) != book.activeSheet && rng_() % 4 == 0;
        return book;
    }

private:
    template <typename T> T pick(std::initializer_list<T> values) {
        return *(values.begin() + rng_() % values.size());
    }

    Style randomStyle() {
        Style s;
        s.numberFormat = pick<QString>({QString(), QStringLiteral("0.00"), QStringLiteral("#,##0"),
                                        QStringLiteral("yyyy/m/d"), QStringLiteral("0%"), QStringLiteral("@"),
                                        QStringLiteral("h:mm:ss"), QStringLiteral("0.000E+00")});
        if (rng_() % 2) {
            s.hasFill = true;
            s.fillRgb = rng_() & 0xFFFFFF;
            s.fillPalette = nearestPaletteIndex(s.fillRgb);
        }
        s.fontName = pick<QString>({QString(), QStringLiteral("Arial"), QStringLiteral("宋体")});
        s.fontSize = pick<double>({0, 9, 14});
        s.bold = rng_() % 2;
        s.italic = rng_() % 3 == 0;
        if (rng_() % 2) {
            s.hasFontColor = true;
            s.fontRgb = rng_() & 0xFFFFFF;
        }
        s.horizontal = HAlign(rng_() % 8);
        s.vertical = VAlign(rng_() % 5);
        s.wrapText = rng_() % 3 == 0;
        return s;
    }

    CellValue randomValue() {
        switch (rng_() % 6) {
        case 0:
            return CellValue::fromNumber(pick<double>({10000000, 0.1 + 0.2, 1e-7, -0.0, 123456789012345.0,
                                                       1234567890123456.0, -3.75, 42, 1e300, 0.5}));
        case 1:
            return CellValue::fromString(SharedText(
                pick<QString>({QStringLiteral("张三"), QStringLiteral("全角ＡＢＣ"),
                               QString::fromUtf8("😀 emoji 👍🏽"), QStringLiteral(" 前后空格 "),
                               QStringLiteral("a&b<c>\"d\""), QStringLiteral("两行\n文字"),
                               QString(3000, u'长'), QStringLiteral("0012")})));
        case 2:
            return CellValue::fromBoolean(rng_() % 2);
        case 3:
            return CellValue::fromDateTime(pick<double>({46363, 46363.5, 0.75, 45000.125}));
        case 4:
            return CellValue::fromError(
                SharedText(pick<QString>({QStringLiteral("#N/A"), QStringLiteral("#DIV/0!")})));
        default:
            return CellValue();
        }
    }

    void fillSheet(Sheet& s, const std::vector<uint32_t>& styles) {
        const int rows = 1 + int(rng_() % 30), columns = 1 + int(rng_() % 8);
        for (int r = 0; r < rows; ++r) {
            if (rng_() % 6 == 0) continue;
            for (int c = 0; c < columns; ++c) {
                if (rng_() % 4 == 0) continue;
                Cell& cell = s.cellAt(r, c);
                cell.value = randomValue();
                cell.style = styles[rng_() % styles.size()];
                if (rng_() % 10 == 0 && cell.value.type() == CellValue::Type::Number)
                    cell.formula = SharedText(u"=A1+1");
                else if (rng_() % 10 == 0 && cell.value.type() == CellValue::Type::String)
                    cell.formula = SharedText(u"=\"a\"&\"b\"");
            }
            if (rng_() % 5 == 0) s.rowAt(r).height = pick<float>({20.25f, 30, 9.75f});
            if (rng_() % 8 == 0) s.rowAt(r).hidden = true;
        }
        // Merged areas in separate bands of rows, so that none overlaps another.
        for (int band = 0; band < 2; ++band)
            if (rng_() % 2) {
                const int32_t top = rows + 2 + band * 4;
                s.merges.push_back(
                    {top, int32_t(rng_() % 3), top + int32_t(rng_() % 3), 3 + int32_t(rng_() % 2)});
            }
        for (int c = 0; c < columns; ++c)
            if (rng_() % 3 == 0) s.columnWidths[c] = pick<double>({0, 30, 90, 200.25});
        s.defaultColumnWidth = pick<double>({48, 54});
        s.defaultRowHeight = pick<double>({13.5, 15, 18});
        s.isProtected = rng_() % 4 == 0;
        PageSetup& p = s.pageSetup;
        p.paperSize = pick<int>({9, 1, 8});
        p.landscape = rng_() % 2;
        p.marginLeft = pick<double>({0.7, 0.5, 0.35433070866141736});
        p.marginHeader = pick<double>({0.3, 0.4});
        p.marginFooter = pick<double>({0.3, 0.25});
        if (rng_() % 3 == 0) {
            p.fitToPage = true;
            p.fitToWidth = 1;
            p.fitToHeight = pick<int>({0, 1, 2});
        } else {
            p.scale = pick<int>({100, 85});
        }
        if (rng_() % 3 == 0) {
            p.printTitleFirstRow = 0;
            p.printTitleLastRow = int(rng_() % 2);
        }
        if (rng_() % 3 == 0) s.rowBreaks = {5, 12};
    }

    std::mt19937 rng_;
};

TEST(XlsxWriterParts, OpenpyxlReadsOurFilesAsItReadsLibxlsxwritersAndLibreOfficeOpensThem) {
    const QString python = test::pythonWith("openpyxl");
    if (python.isEmpty()) GTEST_SKIP() << "python3 with openpyxl is not installed";
    QTemporaryDir dir;
    RandomBooks books(20261208);
    QStringList pairs, ours;
    for (int i = 0; i < 30; ++i) {
        const Workbook book = i == 0 ? featureWorkbook() : books.next();
        const QString mine = dir.filePath(QStringLiteral("ours%1.xlsx").arg(i));
        const QString reference = dir.filePath(QStringLiteral("reference%1.xlsx").arg(i));
        const Status written = writeWorkbook(book, mine, FileKind::Xlsx);
        ASSERT_TRUE(written.isOk()) << written.message().toStdString();
        ASSERT_TRUE(test::writeWithLibxlsxwriter(book, reference).isOk());
        pairs << mine << reference;
        ours << mine;
        // Our own reader reads our file back without complaint.
        Workbook back;
        EXPECT_TRUE(readWorkbook(mine, back).isOk()) << i;
    }
    QProcess p;
    p.start(python, QStringList{QString::fromUtf8(QUELLAR_SOURCE_DIR "/tests/reference/openpyxl_dump.py"),
                                QStringLiteral("--compare")} +
                        pairs);
    ASSERT_TRUE(p.waitForFinished(300000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardOutput().toStdString()
                               << p.readAllStandardError().toStdString();

    const QString office = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (office.isEmpty()) GTEST_SKIP() << "LibreOffice is not installed: our files were not opened by it";
    QProcess convert;
    convert.setWorkingDirectory(dir.path());
    convert.start(office, QStringList{QStringLiteral("--headless"),
                                      QStringLiteral("-env:UserInstallation=file://") +
                                          dir.filePath(QStringLiteral("profile")),
                                      QStringLiteral("--convert-to"), QStringLiteral("csv"),
                                      QStringLiteral("--outdir"), dir.filePath(QStringLiteral("csv"))} +
                              ours);
    ASSERT_TRUE(convert.waitForFinished(600000));
    for (int i = 0; i < ours.size(); ++i)
        EXPECT_TRUE(QFile::exists(dir.filePath(QStringLiteral("csv/ours%1.csv").arg(i))))
            << "LibreOffice did not open ours" << i
            << ".xlsx: " << convert.readAllStandardError().toStdString();
}

// ---------------------------------------------------------------------------------------------
// The container, and a cancelled write

TEST(XlsxWriterParts, StreamedAndZip64EntriesReadBack) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("pieces.zip"));
    std::string whole;
    {
        ZipWriter zip(path);
        ASSERT_TRUE(zip.open().isOk());
        zip.addEntry("small.xml", "<a>small</a>");
        for (bool zip64 : {false, true}) {
            zip.beginEntry(zip64 ? "big64.xml" : "big.xml", zip64);
            PieceDeflater deflater;
            std::string all;
            for (int piece = 0; piece < 3; ++piece) {
                std::string text;
                for (int i = 0; i < 50000; ++i)
                    text += "<row r=\"" + std::to_string(piece * 50000 + i) + "\"/>";
                DeflatedPiece deflated;
                deflater.deflate(text, piece == 2, deflated);
                zip.appendPiece(deflated);
                all += text;
            }
            zip.endEntry();
            whole = all;
        }
        zip.addEntry("empty.xml", "");
        ASSERT_TRUE(zip.finish().isOk());
    }
    ZipArchive archive;
    ASSERT_TRUE(archive.open(path).isOk());
    ASSERT_EQ(archive.entries().size(), 4u);
    std::string content;
    ASSERT_TRUE(archive.readEntry(*archive.find("small.xml"), content).isOk());
    EXPECT_EQ(content, "<a>small</a>");
    for (const char* name : {"big.xml", "big64.xml"}) {
        const Status read = archive.readEntry(*archive.find(name), content, uint64_t(1) << 30);
        ASSERT_TRUE(read.isOk()) << read.message().toStdString();
        EXPECT_EQ(content, whole) << name;
    }
    ASSERT_TRUE(archive.readEntry(*archive.find("empty.xml"), content).isOk());
    EXPECT_EQ(content, "");
    // Python's zipfile checks every CRC, the descriptors and the ZIP64 fields.
    const QString python = test::pythonWith("zipfile");
    if (python.isEmpty()) return;
    QProcess p;
    p.start(python, {QStringLiteral("-c"),
                     QStringLiteral("import sys, zipfile; z = zipfile.ZipFile(sys.argv[1]); "
                                    "assert z.testzip() is None; print(len(z.read('big64.xml')))"),
                     path});
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    EXPECT_EQ(p.readAllStandardOutput().trimmed().toStdString(), std::to_string(whole.size()));
}

// Progress that asks the write to stop once it has written some rows.
class CancellingProgress final : public Progress {
public:
    explicit CancellingProgress(std::atomic<bool>& cancel)
        : cancel_(cancel) {}
    void setText(Msg) override {}
    void setRange(int64_t maximum) override { maximum_ = maximum; }
    void setStep(int64_t) override {}
    void setPosition(int64_t p) override {
        position_ = p;
        if (p > 0) cancel_ = true;
    }
    int64_t position() const override { return position_; }
    int64_t maximum_ = 0;

private:
    std::atomic<bool>& cancel_;
    int64_t position_ = 0;
};

TEST(XlsxWriterParts, ACancelledWriteLeavesTheEarlierFileAndNothingElse) {
    Workbook book;
    Sheet& s = book.sheets.emplace_back();
    s.name = QStringLiteral("大表");
    for (int r = 0; r < 40000; ++r)
        for (int c = 0; c < 5; ++c)
            s.cellAt(r, c).value = CellValue::fromNumber(r * 5 + c);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("结果.xlsx"));
    ASSERT_TRUE(test::writeBytes(path, "earlier"));
    std::atomic<bool> cancel{false};
    CancellingProgress progress(cancel);
    const Status status = xlsx::writeXlsx(book, path, {&progress, &cancel});
    EXPECT_EQ(status.code(), Status::Code::Cancelled);
    EXPECT_EQ(progress.maximum_, 40000);
    EXPECT_LT(progress.position(), 40000);
    EXPECT_EQ(test::bytesOf(path), QByteArray("earlier"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("结果.xlsx")});
    // Not cancelled, the same write runs to its end.
    cancel = false;
    NullProgress quiet;
    ASSERT_TRUE(xlsx::writeXlsx(book, path, {&quiet, nullptr}).isOk());
    Workbook back;
    ASSERT_TRUE(readWorkbook(path, back).isOk());
    EXPECT_EQ(back.sheets.at(0).rows.size(), 40000u);
}

// Our package stays within 1.3 times the size of libxlsxwriter's for the same workbook: a
// table of numbers and short repeated texts, once as libxlsxwriter streams it (inline texts)
// and once with a merged area (libxlsxwriter then keeps texts in the shared-string table).
TEST(XlsxWriterParts, OurFileIsWithinASizeOfLibxlsxwritersFile) {
    const QString cities[] = {QStringLiteral("北京"), QStringLiteral("上海"), QStringLiteral("广州"),
                              QStringLiteral("深圳"), QStringLiteral("杭州"), QStringLiteral("南京")};
    Workbook book;
    Sheet& s = book.sheets.emplace_back();
    s.name = QStringLiteral("名单");
    for (int r = 0; r < 20000; ++r) {
        s.cellAt(r, 0).value = CellValue::fromNumber(r + 1);
        s.cellAt(r, 1).value = CellValue::fromString(SharedText(QStringLiteral("员工%1").arg(r % 997)));
        s.cellAt(r, 2).value = CellValue::fromString(SharedText(cities[r % 6]));
        s.cellAt(r, 3).value = CellValue::fromNumber((r * 37 % 100000) / 100.0);
        s.cellAt(r, 4).value = CellValue::fromDateTime(45000 + r % 365);
    }
    QTemporaryDir dir;
    for (bool merged : {false, true}) {
        if (merged) s.merges.push_back({20001, 0, 20002, 3});
        const QString mine = dir.filePath(QStringLiteral("ours.xlsx"));
        const QString reference = dir.filePath(QStringLiteral("reference.xlsx"));
        ASSERT_TRUE(writeWorkbook(book, mine, FileKind::Xlsx).isOk());
        ASSERT_TRUE(test::writeWithLibxlsxwriter(book, reference).isOk());
        const double ratio = double(QFileInfo(mine).size()) / double(QFileInfo(reference).size());
        EXPECT_LE(ratio, 1.3) << (merged ? "with a merged area" : "streamed") << ": "
                              << QFileInfo(mine).size() << " bytes against " << QFileInfo(reference).size();
    }
}

} // namespace
} // namespace quellar
