#include "TestSupport.h"
#include "workbook/xmlss/XMLTools.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quellar;

namespace {

const char* kHead =
    "<?xml version=\"1.0\"?><Workbook xmlns=\"urn:schemas-microsoft-com:office:spreadsheet\" "
    "xmlns:ss=\"urn:schemas-microsoft-com:office:spreadsheet\"><Worksheet ss:Name=\"S\"><Table>";
const char* kTail = "</Table></Worksheet></Workbook>";

// Loads a workbook whose one Table holds `rows`, and returns its first Row.
XmlNode loadRows(XMLTools& xml, const QString& rows) {
    const Status s = xml.loadFromBytes(QByteArray(kHead) + rows.toUtf8() + kTail);
    EXPECT_TRUE(s.isOk()) << s.message().toStdString();
    return xml.findElement(xml.document(), QStringLiteral("Row"));
}

// The serialised first Row, as UTF-8 so a failure prints readably.
std::string rowXml(XMLTools& xml) {
    const QString text = xml.xmlText();
    const qsizetype from = text.indexOf(QStringLiteral("<Row"));
    return text.mid(from, text.indexOf(QStringLiteral("</Row>")) + 6 - from).toStdString();
}

} // namespace

TEST(XMLTools, FindsCountsAndEditsAttributesInAnExcelFile) {
    XMLTools xml;
    ASSERT_TRUE(xml.load(test::testDataPath("xmlss/excel_style.xml")).isOk());
    const XmlNode book = xml.findElement(xml.document(), "Workbook");
    ASSERT_TRUE(book);
    EXPECT_EQ(book, xml.documentElement());
    const XmlNode sheet = xml.findElement(book, "Worksheet", "ss:Name", QStringLiteral("名单"));
    ASSERT_TRUE(sheet);
    EXPECT_TRUE(xml.findElement(book, "Worksheet", "ss:Name", "Sheet2"));
    EXPECT_FALSE(xml.findElement(book, "Worksheet", "ss:Name", "sheet2")); // letter case counts
    EXPECT_FALSE(xml.findElement(book, "Worksheet", "Name", "Sheet2"));    // so does the prefix
    const XmlNode table = xml.findElement(sheet, "Table");
    ASSERT_TRUE(table);
    EXPECT_EQ(xml.countChildElements(table, "Row"), 5); // Column elements and other rows do not count
    EXPECT_EQ(xml.countChildElements(table, "Column"), 2);
    EXPECT_EQ(xml.attribute(table, "ss:ExpandedRowCount"), "9");
    EXPECT_EQ(xml.attribute(table, "ss:Missing"), "");
    ASSERT_TRUE(xml.setAttribute(table, "ss:ExpandedRowCount", "13").isOk());
    ASSERT_TRUE(xml.setAttribute(table, "ss:New", "x").isOk());
    EXPECT_EQ(xml.attribute(table, "ss:ExpandedRowCount"), "13");
    EXPECT_EQ(xml.attribute(table, "ss:New"), "x");
    EXPECT_FALSE(xml.setAttribute(table, "bad name", "x").isOk());
    EXPECT_FALSE(xml.setAttribute(XmlNode(), "a", "x").isOk());
    const XmlNode data = xml.findElement(sheet, "Data");
    EXPECT_EQ(xml.nodeText(data), QStringLiteral("职工名单"));
    EXPECT_EQ(data.parent().name(), "Cell");
}

TEST(XMLTools, ReadsRowsHonouringIndexAndMergeAcross) {
    XMLTools xml;
    ASSERT_TRUE(xml.load(test::testDataPath("xmlss/excel_style.xml")).isOk());
    const XmlNode table = xml.findElement(
        xml.findElement(xml.document(), "Worksheet", "ss:Name", QStringLiteral("名单")), "Table");
    // Data texts read as the document states them: a Number written 1.5 reads 1.5.
    const std::vector<QStringList> expected = {
        {QStringLiteral("职工名单"), "", "", "1.5"},
        {QStringLiteral("姓名"), QStringLiteral("部门"), QStringLiteral("入职"), QStringLiteral("工资")},
        {QStringLiteral("李四"), "", "2024-03-05T00:00:00.000", "6500.5"},
        {QStringLiteral("红字 & 黑"), "1", "#N/A", QStringLiteral("a<b\n第二行")},
        {"", "-0.25"},
    };
    size_t i = 0;
    for (XmlNode row = table.child("Row"); row; row = row.nextSibling()) {
        ASSERT_LT(i, expected.size());
        const Result<QStringList> texts = xml.rowTexts(row);
        ASSERT_TRUE(texts.isOk()) << texts.status().message().toStdString();
        EXPECT_EQ(texts.value(), expected[i]) << i;
        ++i;
    }
    EXPECT_EQ(i, expected.size());

    struct Bad {
        const char* row;
        const char* says;
    };
    const Bad bad[] = {
        {"<Row><Cell ss:Index=\"3\"/><Cell ss:Index=\"2\"/></Row>", "ss:Index 2"},
        {"<Row><Cell ss:MergeAcross=\"2\"/><Cell ss:Index=\"3\"/></Row>", "ss:Index 3"},
        {"<Row><Cell ss:Index=\"16385\"/></Row>", "XFD"},
        {"<Row><Cell ss:Index=\"x\"/></Row>", "ss:Index"},
        {"<Row><Cell ss:MergeAcross=\"-1\"/></Row>", "ss:MergeAcross"},
    };
    for (const Bad& b : bad) {
        XMLTools doc;
        const Result<QStringList> texts = doc.rowTexts(loadRows(doc, b.row));
        EXPECT_FALSE(texts.isOk()) << b.row;
        EXPECT_TRUE(texts.status().message().contains(b.says)) << texts.status().message().toStdString();
    }
}

TEST(XMLTools, WritesValuesIntoTheRightColumn) {
    const QString start =
        "<Row ss:Height=\"20\"><Cell ss:Formula=\"=1+1\"><Data ss:Type=\"Number\">2</Data></Cell>"
        "<Cell ss:Index=\"4\"><Data ss:Type=\"String\">d</Data></Cell></Row>";
    struct Case {
        int column;
        QStringList texts;
        const char* xml; // the row afterwards
    };
    const Case cases[] = {
        {2,
         {"2", "v", "", "d"},
         "<Row ss:Height=\"20\"><Cell ss:Formula=\"=1+1\"><Data "
         "ss:Type=\"Number\">2</Data></Cell><Cell><Data "
         "ss:Type=\"Number\">v</Data></Cell><Cell ss:Index=\"4\"><Data "
         "ss:Type=\"String\">d</Data></Cell></Row>"},
        {3, {"2", "", "v", "d"}, nullptr},
        {4, {"2", "", "", "v"}, nullptr},
        {6, {"2", "", "", "d", "", "v"}, nullptr},
        {1,
         {"v", "", "", "d"},
         "<Row ss:Height=\"20\"><Cell><Data ss:Type=\"Number\">v</Data></Cell><Cell ss:Index=\"4\"><Data "
         "ss:Type=\"String\">d</Data></Cell></Row>"},
    };
    for (const Case& c : cases) {
        XMLTools xml;
        const XmlNode row = loadRows(xml, start);
        const Status s = xml.setCellValue(row, c.column, "v", "Number");
        ASSERT_TRUE(s.isOk()) << s.message().toStdString();
        EXPECT_EQ(xml.rowTexts(row).value(), c.texts) << c.column;
        if (c.xml) EXPECT_EQ(rowXml(xml), c.xml) << c.column;
    }

    // A Cell without Data gets one; a column covered by a merged cell is refused.
    XMLTools xml;
    XmlNode row = loadRows(xml, "<Row><Cell ss:StyleID=\"s1\"/><Cell ss:MergeAcross=\"2\"/></Row>");
    ASSERT_TRUE(xml.setCellValue(row, 1, QStringLiteral("小计"), "String").isOk());
    EXPECT_EQ(rowXml(xml), "<Row><Cell ss:StyleID=\"s1\"><Data ss:Type=\"String\">小计</Data></Cell>"
                           "<Cell ss:MergeAcross=\"2\"/></Row>");
    EXPECT_FALSE(xml.setCellValue(row, 3, "1", "Number").isOk());
    EXPECT_FALSE(xml.setCellValue(row, 0, "1", "Number").isOk());
    ASSERT_TRUE(xml.setCellValue(row, 5, "1", "Number").isOk());
    EXPECT_EQ(xml.rowTexts(row).value(), QStringList({QStringLiteral("小计"), "", "", "", "1"}));
}

TEST(XMLTools, CopiesInsertsAndRemovesNodes) {
    XMLTools xml;
    const XmlNode row =
        loadRows(xml, "<Column/><Row><Cell><Data ss:Type=\"String\">a</Data></Cell></Row><Row/>");
    const XmlNode table = row.parent();
    const XmlNode copy = xml.insertCopyAfter(row, row);
    ASSERT_TRUE(copy);
    EXPECT_EQ(row.nextSibling(), copy);
    ASSERT_TRUE(xml.setCellValue(copy, 1, "b", "String").isOk());
    EXPECT_EQ(xml.rowTexts(row).value(), QStringList{"a"}); // the copy is deep
    EXPECT_EQ(xml.countChildElements(table, "Row"), 3);
    const XmlNode added = xml.appendElement(table, "Row");
    EXPECT_EQ(table.lastChild(), added);
    EXPECT_TRUE(xml.insertElementBefore(table, "Row", row));
    EXPECT_FALSE(xml.appendElement(table, "<x"));
    EXPECT_EQ(xml.countChildElements(table, "Row"), 5);
    EXPECT_TRUE(xml.remove(added));
    EXPECT_FALSE(xml.remove(xml.document()));
    EXPECT_EQ(xml.countChildElements(table, "Row"), 4);
    EXPECT_EQ(table.children().size(), 5u);
    EXPECT_EQ(table.children()[0].name(), "Column");
}

TEST(XMLTools, SerialisesWithoutEmptyNamespaceDeclarations) {
    XMLTools xml;
    ASSERT_TRUE(
        xml.loadFromBytes(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<?mso-application progid=\"Excel.Sheet\"?>\n"
               "<Workbook xmlns=\"urn:schemas-microsoft-com:office:spreadsheet\">\n <Row xmlns=\"\" "
               "ss:Index=\"2\"><Cell xmlns=\"\"><Data> </Data></Cell></Row>\n</Workbook>")
            .isOk());
    EXPECT_EQ(xml.xmlText().toStdString(),
              "<?xml version=\"1.0\"?><?mso-application progid=\"Excel.Sheet\"?><Workbook "
              "xmlns=\"urn:schemas-microsoft-com:office:spreadsheet\"><Row ss:Index=\"2\"><Cell><Data> "
              "</Data></Cell></Row></Workbook>");
}

TEST(XMLTools, SavesUtf16WithByteOrderMarkAndCrLf) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    XMLTools xml;
    ASSERT_TRUE(xml.loadFromBytes(QStringLiteral("<a>表</a>").toUtf8()).isOk());
    const QString path = dir.filePath("3.xml");
    ASSERT_TRUE(xml.save(path).isOk());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QByteArray expected("\xFF\xFE", 2);
    for (QChar c : QStringLiteral("<?xml version=\"1.0\"?><a>表</a>\r\n")) {
        expected.append(char(c.unicode() & 0xFF));
        expected.append(char(c.unicode() >> 8));
    }
    EXPECT_EQ(file.readAll(), expected);
    file.close();

    // What was written loads again (UTF-16 with its byte-order mark).
    XMLTools again;
    ASSERT_TRUE(again.load(path).isOk());
    EXPECT_EQ(again.nodeText(again.documentElement()), QStringLiteral("表"));

    // An unwritable place is reported, naming the path, and nothing is left behind.
    const QString blocked = dir.filePath("missing/dir/3.xml");
    const Status s = xml.save(blocked);
    EXPECT_EQ(s.code(), Status::Code::IoError);
    EXPECT_TRUE(s.message().contains("3.xml"));
    EXPECT_FALSE(QFile::exists(blocked));
}

TEST(XMLTools, RefusesHostileAndBrokenFiles) {
    struct Case {
        const char* text;
        const char* says;
    };
    const Case cases[] = {
        {"<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\"><!ENTITY lol2 "
         "\"&lol;&lol;&lol;&lol;\">]>"
         "<Workbook>&lol2;</Workbook>",
         "DOCTYPE"},
        {"<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><r>&x;</r>",
         "DOCTYPE"},
        {"<Workbook>\n<Row>\n</Workbook>", "第 3 行"},
        {"", "没有根元素"},
        {"just text", "XML"},
    };
    for (const Case& c : cases) {
        XMLTools xml;
        const Status s = xml.loadFromBytes(c.text, "1.xml");
        EXPECT_EQ(s.code(), Status::Code::InvalidInput) << c.text;
        EXPECT_TRUE(s.message().contains("1.xml") && s.message().contains(QString::fromUtf8(c.says)))
            << s.message().toStdString();
        EXPECT_FALSE(xml.documentElement());
    }
    XMLTools xml;
    const Status missing = xml.load(QDir::temp().filePath("quellar-no-such-file.xml"));
    EXPECT_EQ(missing.code(), Status::Code::NotFound);
    EXPECT_TRUE(missing.message().contains("quellar-no-such-file.xml"));
}
