// The .xlsx writer's small parts: content types, the package's and the workbook's
// relationships, document properties, and the workbook part with its sheet list, active sheet
// and print titles.

#include "workbook/xlsx/XlsxWriting.h"

#include "base/TextIO.h"

#include <QDateTime>

namespace quellar::xlsx::writing {

namespace {

constexpr std::string_view kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
constexpr std::string_view kRelationshipTypes =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";

std::string escaped(const QString& text, TextEscape escape = TextEscape::XmlText) {
    std::string out;
    appendUtf8(out, text, escape);
    return out;
}

bool hasPrintTitles(const Sheet& sheet) {
    const PageSetup& p = sheet.pageSetup;
    return p.printTitleFirstRow >= 0 && p.printTitleLastRow >= p.printTitleFirstRow &&
           p.printTitleLastRow < kMaxRows;
}

// 'name' as a formula refers to a sheet, quotes doubled.
QString quotedSheetName(const QString& name) {
    QString quoted = name;
    quoted.replace(u'\'', QStringLiteral("''"));
    return u'\'' + quoted + u'\'';
}

std::string relationship(int id, std::string_view type, std::string_view target) {
    return "<Relationship Id=\"rId" + std::to_string(id) + "\" Type=\"" + std::string(type) + "\" Target=\"" +
           std::string(target) + "\"/>";
}

} // namespace

std::string contentTypesPart(size_t sheets) {
    const std::string prefix = "application/vnd.openxmlformats-officedocument.";
    auto override = [&](const std::string& part, const std::string& type) {
        return "<Override PartName=\"" + part + "\" ContentType=\"" + type + "\"/>";
    };
    std::string out(kDeclaration);
    out += "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
           "<Default Extension=\"rels\" "
           "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
           "<Default Extension=\"xml\" ContentType=\"application/xml\"/>";
    out += override("/docProps/app.xml", prefix + "extended-properties+xml");
    out += override("/docProps/core.xml", "application/vnd.openxmlformats-package.core-properties+xml");
    out += override("/xl/styles.xml", prefix + "spreadsheetml.styles+xml");
    out += override("/xl/theme/theme1.xml", prefix + "theme+xml");
    out += override("/xl/workbook.xml", prefix + "spreadsheetml.sheet.main+xml");
    for (size_t i = 0; i < sheets; ++i)
        out += override("/" + sheetPartName(i), prefix + "spreadsheetml.worksheet+xml");
    out += "</Types>";
    return out;
}

std::string packageRelationshipsPart() {
    std::string out(kDeclaration);
    out += "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    out += relationship(1, std::string(kRelationshipTypes) + "officeDocument", "xl/workbook.xml");
    out += relationship(
        2, "http://schemas.openxmlformats.org/package/2006/relationships/metadata/core-properties",
        "docProps/core.xml");
    out += relationship(3, std::string(kRelationshipTypes) + "extended-properties", "docProps/app.xml");
    out += "</Relationships>";
    return out;
}

std::string workbookRelationshipsPart(size_t sheets) {
    std::string out(kDeclaration);
    out += "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    int id = 1;
    for (size_t i = 0; i < sheets; ++i)
        out += relationship(id++, std::string(kRelationshipTypes) + "worksheet",
                            "worksheets/sheet" + std::to_string(i + 1) + ".xml");
    out += relationship(id++, std::string(kRelationshipTypes) + "theme", "theme/theme1.xml");
    out += relationship(id++, std::string(kRelationshipTypes) + "styles", "styles.xml");
    out += "</Relationships>";
    return out;
}

std::string appPropertiesPart(const std::vector<SheetPlan>& plans) {
    std::vector<QString> names;
    for (const SheetPlan& plan : plans)
        if (hasPrintTitles(*plan.sheet))
            names.push_back(quotedSheetName(plan.name) + QStringLiteral("!Print_Titles"));
    const size_t parts = plans.size() + names.size();
    std::string out(kDeclaration);
    out +=
        "<Properties xmlns=\"http://schemas.openxmlformats.org/officeDocument/2006/extended-properties\" "
        "xmlns:vt=\"http://schemas.openxmlformats.org/officeDocument/2006/docPropsVTypes\">"
        "<Application>Microsoft Excel</Application><DocSecurity>0</DocSecurity><ScaleCrop>false</ScaleCrop>"
        "<HeadingPairs><vt:vector size=\"" +
        std::to_string(names.empty() ? 2 : 4) +
        "\" "
        "baseType=\"variant\"><vt:variant><vt:lpstr>Worksheets</vt:lpstr></vt:variant><vt:variant><vt:i4>" +
        std::to_string(plans.size()) + "</vt:i4></vt:variant>";
    if (!names.empty())
        out += "<vt:variant><vt:lpstr>Named Ranges</vt:lpstr></vt:variant><vt:variant><vt:i4>" +
               std::to_string(names.size()) + "</vt:i4></vt:variant>";
    out += "</vt:vector></HeadingPairs><TitlesOfParts><vt:vector size=\"" + std::to_string(parts) +
           "\" baseType=\"lpstr\">";
    for (const SheetPlan& plan : plans)
        out += "<vt:lpstr>" + escaped(plan.name) + "</vt:lpstr>";
    for (const QString& name : names)
        out += "<vt:lpstr>" + escaped(name) + "</vt:lpstr>";
    out += "</vt:vector></TitlesOfParts><Company></Company><LinksUpToDate>false</LinksUpToDate>"
           "<SharedDoc>false</SharedDoc><HyperlinksChanged>false</HyperlinksChanged><AppVersion>12.0000</"
           "AppVersion>"
           "</Properties>";
    return out;
}

std::string corePropertiesPart() {
    const std::string now =
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ssZ")).toStdString();
    std::string out(kDeclaration);
    out += "<cp:coreProperties "
           "xmlns:cp=\"http://schemas.openxmlformats.org/package/2006/metadata/core-properties\" "
           "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:dcterms=\"http://purl.org/dc/terms/\" "
           "xmlns:dcmitype=\"http://purl.org/dc/dcmitype/\" "
           "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">"
           "<dc:creator></dc:creator><cp:lastModifiedBy></cp:lastModifiedBy>"
           "<dcterms:created xsi:type=\"dcterms:W3CDTF\">" +
           now + "</dcterms:created><dcterms:modified xsi:type=\"dcterms:W3CDTF\">" + now +
           "</dcterms:modified></cp:coreProperties>";
    return out;
}

// CT_Workbook: fileVersion, workbookPr, bookViews, sheets, definedNames, calcPr.
std::string workbookPart(const std::vector<SheetPlan>& plans, int activeSheet) {
    std::string out(kDeclaration);
    out +=
        "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
        "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
        "<fileVersion appName=\"xl\" lastEdited=\"4\" lowestEdited=\"4\" rupBuild=\"4505\"/>"
        "<workbookPr defaultThemeVersion=\"124226\"/>"
        "<bookViews><workbookView xWindow=\"240\" yWindow=\"15\" windowWidth=\"16095\" windowHeight=\"9660\"";
    if (activeSheet > 0) out += " activeTab=\"" + std::to_string(activeSheet) + "\"";
    out += "/></bookViews><sheets>";
    for (size_t i = 0; i < plans.size(); ++i) {
        out += "<sheet name=\"" + escaped(plans[i].name, TextEscape::XmlAttribute) + "\" sheetId=\"" +
               std::to_string(i + 1) + "\"";
        if (plans[i].sheet->hidden && int(i) != activeSheet) out += " state=\"hidden\"";
        out += " r:id=\"rId" + std::to_string(i + 1) + "\"/>";
    }
    out += "</sheets>";
    bool names = false;
    for (size_t i = 0; i < plans.size(); ++i) {
        const PageSetup& p = plans[i].sheet->pageSetup;
        if (!hasPrintTitles(*plans[i].sheet)) continue;
        if (!names) out += "<definedNames>";
        names = true;
        const QString range = QStringLiteral("%1!$%2:$%3")
                                  .arg(quotedSheetName(plans[i].name))
                                  .arg(p.printTitleFirstRow + 1)
                                  .arg(p.printTitleLastRow + 1);
        out += "<definedName name=\"_xlnm.Print_Titles\" localSheetId=\"" + std::to_string(i) + "\">" +
               escaped(range) + "</definedName>";
    }
    if (names) out += "</definedNames>";
    out += "<calcPr calcId=\"124519\" fullCalcOnLoad=\"1\"/></workbook>";
    return out;
}

} // namespace quellar::xlsx::writing
