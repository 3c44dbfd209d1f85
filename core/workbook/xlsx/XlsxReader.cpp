// The .xlsx reader's package: the package and workbook relationships, the workbook part (sheet
// names, order, visibility, the active tab, the 1904 date system, print titles), the shared
// strings, and the order in which the parts are read (the entry points of XlsxFormat).

#include "workbook/xlsx/XlsxReading.h"

#include <QDir>
#include <QRegularExpression>

#include <cctype>
#include <thread>

namespace quellar {

namespace xlsx::detail {

namespace {

std::string folderOf(std::string_view part) {
    const size_t slash = part.rfind('/');
    return slash == std::string_view::npos ? std::string() : std::string(part.substr(0, slash + 1));
}

std::string relationshipsPartOf(std::string_view part) {
    const size_t slash = part.rfind('/');
    const std::string_view folder =
        slash == std::string_view::npos ? std::string_view() : part.substr(0, slash + 1);
    const std::string_view file = slash == std::string_view::npos ? part : part.substr(slash + 1);
    return std::string(folder) + "_rels/" + std::string(file) + ".rels";
}

// A target relative to `baseFolder`, or absolute ("/xl/..."), as a package part name.
std::string resolveTarget(std::string_view baseFolder, std::string_view target) {
    std::string decoded;
    for (size_t i = 0; i < target.size(); ++i) {
        if (target[i] == '%' && i + 2 < target.size() && std::isxdigit(uchar(target[i + 1])) &&
            std::isxdigit(uchar(target[i + 2]))) {
            decoded.push_back(char(std::stoi(std::string(target.substr(i + 1, 2)), nullptr, 16)));
            i += 2;
        } else {
            decoded.push_back(target[i] == '\\' ? '/' : target[i]);
        }
    }
    std::string joined =
        !decoded.empty() && decoded[0] == '/' ? decoded.substr(1) : std::string(baseFolder) + decoded;
    std::vector<std::string> segments;
    size_t start = 0;
    while (start <= joined.size()) {
        size_t slash = joined.find('/', start);
        if (slash == std::string::npos) slash = joined.size();
        const std::string segment = joined.substr(start, slash - start);
        if (segment == "..") {
            if (!segments.empty()) segments.pop_back();
        } else if (!segment.empty() && segment != ".") {
            segments.push_back(segment);
        }
        start = slash + 1;
    }
    std::string out;
    for (const std::string& s : segments) {
        if (!out.empty()) out.push_back('/');
        out += s;
    }
    return out;
}

// "Sheet1!$1:$2" or "'My sheet'!$A:$B,'My sheet'!$1:$3": the rows repeated on every page.
bool parsePrintTitleRows(const QString& text, int& first, int& last) {
    static const QRegularExpression rows(QStringLiteral("!\\$?(\\d+):\\$?(\\d+)\\s*(,|$)"));
    const QRegularExpressionMatch m = rows.match(text);
    if (!m.hasMatch()) return false;
    first = m.captured(1).toInt() - 1;
    last = m.captured(2).toInt() - 1;
    if (first < 0 || last < first || last >= kMaxRows) return false;
    return true;
}

} // namespace

Status XlsxReader::readRelationships(std::string_view part,
                                     std::unordered_map<std::string, Relationship>& out) const {
    out.clear();
    const std::string relsName = relationshipsPartOf(part);
    const ZipEntry* entry = zip_.find(relsName);
    if (!entry) return Status::ok();
    const std::string base = folderOf(part);
    return scanPart(*entry, [&](XmlScanner& sc) {
        for (;;) {
            const XmlScanner::Token t = sc.next();
            if (t == XmlScanner::Token::EndDocument || t == XmlScanner::Token::Error) break;
            if (t != XmlScanner::Token::StartElement || sc.localName() != "Relationship") continue;
            Relationship r;
            std::string_view type = sc.attributeValue("Type");
            const size_t slash = type.rfind('/');
            r.type = std::string(slash == std::string_view::npos ? type : type.substr(slash + 1));
            r.external = sc.attributeValue("TargetMode") == "External";
            r.target = r.external ? std::string(sc.attributeValue("Target"))
                                  : resolveTarget(base, sc.attributeValue("Target"));
            out.emplace(std::string(sc.attributeValue("Id")), std::move(r));
        }
        return Status::ok();
    });
}

Status XlsxReader::readWorkbookPart(const ZipEntry& entry,
                                    std::vector<std::pair<SheetInfo, std::string>>& sheets, int& activeTab,
                                    std::map<int, QString>& printTitles) {
    return scanPart(entry, [&](XmlScanner& sc) {
        for (;;) {
            const XmlScanner::Token t = sc.next();
            if (t == XmlScanner::Token::EndDocument || t == XmlScanner::Token::Error) break;
            if (t != XmlScanner::Token::StartElement) continue;
            const std::string_view name = sc.localName();
            if (name == "workbookPr") {
                date1904_ = isTrue(sc.attributeValue("date1904"));
            } else if (name == "workbookView") {
                if (activeTab < 0) activeTab = std::max(0, toInt(sc.attributeValue("activeTab"), 0));
            } else if (name == "sheet") {
                SheetInfo info;
                info.name = qstr(sc.attributeValue("name"));
                const std::string_view state = sc.attributeValue("state");
                info.hidden = state == "hidden" || state == "veryHidden";
                // r:id; the relationship namespace prefix varies, the local name does not.
                std::string id;
                for (const XmlAttribute& a : sc.attributes())
                    if (a.localName == "id" && a.qualifiedName != "id") id = std::string(a.value);
                if (sheets.size() >= 10000) return partError(entry, QStringLiteral("工作表太多"));
                sheets.emplace_back(std::move(info), std::move(id));
            } else if (name == "definedName") {
                const std::string definedName(sc.attributeValue("name"));
                const int sheet = toInt(sc.attributeValue("localSheetId"), -1);
                std::string text;
                if (!sc.readElementText(text)) break;
                if (definedName == "_xlnm.Print_Titles" && sheet >= 0) printTitles[sheet] = qstr(text);
            }
        }
        return Status::ok();
    });
}

Status XlsxReader::readSharedStrings(const ZipEntry& entry, std::vector<SharedText>& out) const {
    out.clear();
    return scanPart(entry, [&](XmlScanner& sc) {
        std::string text;
        bool inItem = false;
        for (;;) {
            const XmlScanner::Token t = sc.next();
            if (t == XmlScanner::Token::EndDocument || t == XmlScanner::Token::Error) break;
            if (t == XmlScanner::Token::StartElement) {
                const std::string_view name = sc.localName();
                if (name == "sst") {
                    // Never trust the count for more than the part could hold (<si/> is 5 bytes).
                    const int64_t count = toInt(sc.attributeValue("uniqueCount"), 0);
                    out.reserve(size_t(std::clamp<int64_t>(count, 0, int64_t(entry.size / 5))));
                } else if (name == "si") {
                    inItem = true;
                    text.clear();
                } else if (name == "t" && inItem) {
                    if (!sc.readElementText(text)) break;
                } else if (name == "rPh" || name == "phoneticPr") {
                    if (!sc.skipElement()) break;
                }
            } else if (t == XmlScanner::Token::EndElement && inItem && sc.localName() == "si") {
                if (out.size() >= kMaxSharedStrings)
                    return partError(
                        entry,
                        QStringLiteral("共享字符串超过 %1 个，超出了能读入的上限").arg(kMaxSharedStrings));
                out.push_back(ooxmlText(text));
                inItem = false;
            }
        }
        return Status::ok();
    });
}

Status XlsxReader::run() {
    if (Status s = zip_.open(path_); !s) return s;

    // The package relationships name the workbook part; xl/workbook.xml is the usual one.
    std::unordered_map<std::string, Relationship> rels;
    if (Status s = readRelationships("", rels); !s) return s;
    std::string workbookPart;
    for (const auto& [id, r] : rels)
        if (r.type == "officeDocument" && !r.external && zip_.find(r.target)) workbookPart = r.target;
    if (workbookPart.empty() && zip_.find("xl/workbook.xml")) workbookPart = "xl/workbook.xml";
    if (workbookPart.empty())
        return Status::invalidInput(
            zip_.describeFile() +
            QStringLiteral("：这是一个 zip 压缩包，但不是 Excel 工作簿（找不到工作簿部件 xl/workbook.xml）"));
    const ZipEntry* workbookEntry = zip_.find(workbookPart);
    if (QByteArray::fromStdString(workbookPart).toLower().endsWith(".bin"))
        return Status::unsupported(
            zip_.describeFile() +
            QStringLiteral("：这是 Excel 二进制工作簿（.xlsb），不能直接读取；请先另存为 .xlsx"));

    std::unordered_map<std::string, Relationship> workbookRels;
    if (Status s = readRelationships(workbookPart, workbookRels); !s) return s;
    std::vector<std::pair<SheetInfo, std::string>> declared;
    int activeTab = -1;
    std::map<int, QString> printTitles;
    if (Status s = readWorkbookPart(*workbookEntry, declared, activeTab, printTitles); !s) return s;

    const ZipEntry* stylesEntry = nullptr;
    const ZipEntry* stringsEntry = nullptr;
    const ZipEntry* themeEntry = nullptr;
    for (const auto& [id, r] : workbookRels) {
        if (r.external) continue;
        if (r.type == "styles")
            stylesEntry = zip_.find(r.target);
        else if (r.type == "sharedStrings")
            stringsEntry = zip_.find(r.target);
        else if (r.type == "theme")
            themeEntry = zip_.find(r.target);
    }
    if (!stylesEntry) stylesEntry = zip_.find("xl/styles.xml");
    if (!stringsEntry) stringsEntry = zip_.find("xl/sharedStrings.xml");

    // Sheets in workbook order; chart sheets, dialog sheets and macro sheets hold no table and
    // are left out, and so is an entry without a relationship (it names no part).
    std::vector<SheetInfo> sheets;
    std::vector<int> tabOfSheet;
    for (size_t i = 0; i < declared.size(); ++i) {
        auto& [info, id] = declared[i];
        if (id.empty()) continue;
        const auto it = workbookRels.find(id);
        if (it == workbookRels.end() || it->second.external)
            return partError(*workbookEntry,
                             QStringLiteral("工作表“%1”的关系“%2”不存在").arg(info.name, qstr(id)));
        if (it->second.type != "worksheet") continue;
        info.part = it->second.target;
        if (!zip_.find(info.part))
            return partError(*workbookEntry,
                             QStringLiteral("工作表“%1”的部件“%2”不存在").arg(info.name, qstr(info.part)));
        sheets.push_back(info);
        tabOfSheet.push_back(int(i));
    }
    if (sheets.empty()) return partError(*workbookEntry, QStringLiteral("工作簿中没有工作表"));

    if (themeEntry) {
        if (Status s = readTheme(*themeEntry); !s) return s;
    }
    if (stylesEntry) {
        if (Status s = readStyles(*stylesEntry); !s) return s;
    }

    if (request_) {
        setActiveSheet(sheets, tabOfSheet, activeTab);
        if (Status s = readTableSheet(sheets, stringsEntry); !s) return s;
        setPrintTitles(size_t(request_->sheet), tabOfSheet[size_t(request_->sheet)], printTitles);
        return Status::ok();
    }

    // Shared strings and the first sheet are independent parts: a large string table is
    // read on a second thread while the first sheet is read with its string indexes kept
    // for a quick lookup afterwards.
    std::vector<SharedText> strings;
    book_.sheets.resize(sheets.size());
    const bool parallel = stringsEntry && stringsEntry->size > kParallelStringsFloor;
    Status stringsStatus;
    std::thread stringsThread;
    struct Joiner {
        std::thread& t;
        ~Joiner() {
            if (t.joinable()) t.join();
        }
    } joiner{stringsThread};
    if (stringsEntry) {
        if (parallel)
            stringsThread = std::thread([&] {
                stringsStatus = runGuarded([&] { return readSharedStrings(*stringsEntry, strings); });
            });
        else if (Status s = readSharedStrings(*stringsEntry, strings); !s)
            return s;
    }
    Status firstStatus;
    {
        Sheet& sheet = book_.sheets[0];
        sheet.name = sheets[0].name;
        sheet.hidden = sheets[0].hidden;
        firstStatus = readSheet(*zip_.find(sheets[0].part), sheet, parallel ? nullptr : &strings);
    }
    if (stringsThread.joinable()) stringsThread.join();
    if (!stringsStatus) return stringsStatus;
    if (!firstStatus) return firstStatus;
    if (parallel) {
        if (Status s = resolvePendingStrings(*zip_.find(sheets[0].part), book_.sheets[0], strings); !s)
            return s;
    }
    for (size_t i = 1; i < sheets.size(); ++i) {
        Sheet& sheet = book_.sheets[i];
        sheet.name = sheets[i].name;
        sheet.hidden = sheets[i].hidden;
        if (Status s = readSheet(*zip_.find(sheets[i].part), sheet, &strings); !s) return s;
    }

    for (size_t i = 0; i < sheets.size(); ++i)
        setPrintTitles(i, tabOfSheet[i], printTitles);
    setActiveSheet(sheets, tabOfSheet, activeTab);
    return Status::ok();
}

// Print titles are keyed by the position among all sheets of the workbook part.
void XlsxReader::setPrintTitles(size_t sheet, int tab, const std::map<int, QString>& printTitles) {
    const auto it = printTitles.find(tab);
    int first, last;
    if (it != printTitles.end() && parsePrintTitleRows(it->second, first, last)) {
        book_.sheets[sheet].pageSetup.printTitleFirstRow = first;
        book_.sheets[sheet].pageSetup.printTitleLastRow = last;
    }
}

// The active tab when it is a worksheet; otherwise (a chart, dialog or macro sheet is active,
// or the tab does not exist) the first visible worksheet, as no other sheet was chosen.
void XlsxReader::setActiveSheet(const std::vector<SheetInfo>& sheets, const std::vector<int>& tabOfSheet,
                                int activeTab) {
    const auto active = std::find(tabOfSheet.begin(), tabOfSheet.end(), std::max(activeTab, 0));
    if (active != tabOfSheet.end()) {
        book_.activeSheet = int(active - tabOfSheet.begin());
        return;
    }
    const auto visible =
        std::find_if(sheets.begin(), sheets.end(), [](const SheetInfo& sheet) { return !sheet.hidden; });
    book_.activeSheet = visible == sheets.end() ? 0 : int(visible - sheets.begin());
}

// For one sheet's table: every sheet is named, the chosen one alone is read, with the shared
// strings first so its rows can be streamed as they come.
Status XlsxReader::readTableSheet(const std::vector<SheetInfo>& sheets, const ZipEntry* stringsEntry) {
    book_.sheets.resize(sheets.size());
    for (size_t i = 0; i < sheets.size(); ++i) {
        book_.sheets[i].name = sheets[i].name;
        book_.sheets[i].hidden = sheets[i].hidden;
    }
    Result<int> chosen = request_->choose(book_);
    if (!chosen.isOk()) return chosen.status();
    const size_t index = size_t(chosen.value());
    request_->sheet = int(index);
    request_->streamed = false;
    std::vector<SharedText> strings;
    if (stringsEntry) {
        if (Status s = readSharedStrings(*stringsEntry, strings); !s) return s;
    }
    const ZipEntry& entry = *zip_.find(sheets[index].part);
    Sheet& sheet = book_.sheets[index];
    if (request_->stream) {
        request_->stream->start(book_);
        bool refused = false;
        if (Status s = readSheet(entry, sheet, &strings, request_->stream, &refused); !s) return s;
        if (!refused) {
            request_->streamed = true;
            return Status::ok();
        }
        // Rows out of order, a range too large to stream, or rows read in pieces that must be
        // read again: read the sheet whole.
        Sheet fresh;
        fresh.name = sheet.name;
        fresh.hidden = sheet.hidden;
        sheet = std::move(fresh);
    }
    return readSheet(entry, sheet, &strings);
}

} // namespace xlsx::detail

bool XlsxFormat::recognizes(const QByteArray& head) const {
    return head.startsWith("PK\x03\x04") || head.startsWith("PK\x05\x06");
}

Status XlsxFormat::read(const QString& path, Workbook& workbook) const {
    return readWith(path, workbook, nullptr);
}

Status XlsxFormat::readTable(const QString& path, Workbook& workbook, SheetTableRequest& request) const {
    return readWith(path, workbook, &request);
}

Status XlsxFormat::readWith(const QString& path, Workbook& workbook, SheetTableRequest* request) const {
    Workbook book;
    book.defaultFontName = QStringLiteral("Calibri");
    book.defaultFontSize = 11;
    xlsx::detail::XlsxReader reader(path, book, request);
    Status s;
    try {
        s = reader.run();
    } catch (const std::bad_alloc&) {
        s = Status::ioError(
            QStringLiteral("文件“%1”：内存不足，无法读入").arg(QDir::toNativeSeparators(path)));
    } catch (const std::exception& e) {
        s = Status::ioError(QStringLiteral("文件“%1”：读取失败（%2）")
                                .arg(QDir::toNativeSeparators(path), QString::fromLocal8Bit(e.what())));
    }
    if (!s) {
        workbook = Workbook();
        return s;
    }
    workbook = std::move(book);
    return Status::ok();
}

} // namespace quellar
