// Every file the program writes, under the three ways a write fails on a real desktop: the
// disk fills up in the middle of the file, the folder cannot be written, and the target is a
// folder. Each time the earlier file stays as it was, no temporary file is left behind, and
// the message names the file and the reason.
//
// The full disk is a file size limit (RLIMIT_FSIZE): every write past it fails with EFBIG,
// whichever library does the writing. The unwritable folder is chmod 0555, or for root (whom
// permissions do not stop) the immutable attribute; where neither can be had the case is
// skipped.

#include "Cli.h"
#include "base/MessageTable.h"
#include "forms/FormPages.h"
#include "table/PageSubtotals.h"
#include "table/compare/Report.h"
#include "tests/DiskLimit.h"
#include "tests/TestSupport.h"
#include "workbook/ExcelDriver.h"
#include "workbook/WorkbookFormat.h"
#include "workbook/csv/CsvFormat.h"
#include "workbook/json/JsonTables.h"
#include "workbook/xmlss/XMLTools.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <sstream>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace quellar;
using test::bytesOf;

namespace {

// Large enough that every writer passes the size limit well before it ends.
constexpr int kRows = 6000;
constexpr rlim_t kDiskLimit = 64 * 1024;

Workbook largeWorkbook() {
    Workbook book = Workbook::makeDefault();
    Sheet& sheet = book.sheets[0];
    for (int r = 0; r < kRows; ++r) {
        sheet.cellAt(r, 0).value = CellValue::fromNumber(r * 1.25);
        sheet.cellAt(r, 1).value = CellValue::fromString(
            SharedText(QStringLiteral("第%1行 张三李四王五 %2").arg(r).arg(r * 7919 % 10007)));
        sheet.cellAt(r, 2).value =
            CellValue::fromString(SharedText(QString::number(r * 104729ull % 1000003, 36)));
    }
    return book;
}

RowTable largeTable() {
    std::vector<QStringList> rows;
    for (int r = 0; r < kRows; ++r)
        rows.push_back({QString::number(r), QStringLiteral("第%1行 张三李四王五").arg(r),
                        QString::number(r * 7919 % 10007)});
    return test::makeTable(rows);
}

QString longText() {
    QString text;
    for (int r = 0; r < kRows; ++r)
        text += QStringLiteral("第%1行 不同的单元格 <td>%2</td>\n").arg(r).arg(r * 31);
    return text;
}

struct Writer {
    const char* what;
    QString fileName;
    std::function<Status(const QString& path)> write;
};

// Every writer the window and the command line use, each with a large content.
std::vector<Writer> writers(const QString& sourceFolder) {
    static const Workbook book = largeWorkbook();
    static const RowTable table = largeTable();
    static const QString text = longText();
    // The working files are converted from the workbook the user opens.
    const QString source = QDir(sourceFolder).filePath(QStringLiteral("源.xlsx"));
    if (!QFile::exists(source)) EXPECT_TRUE(writeWorkbook(book, source, FileKind::Xlsx).isOk());
    return {
        {"working file 1.xml", QStringLiteral("1.xml"),
         [source](const QString& path) { return ConvertWorkbook(source, path, QStringLiteral("46")); }},
        {"XMLTools document", QStringLiteral("文档.xml"),
         [source, sourceFolder](const QString& path) {
             const QString working = QDir(sourceFolder).filePath(QStringLiteral("working.xml"));
             if (!QFile::exists(working))
                 EXPECT_TRUE(ConvertWorkbook(source, working, QStringLiteral("46")).isOk());
             XMLTools tools;
             if (Status s = tools.load(working); !s.isOk()) return s;
             return tools.save(path);
         }},
        {"page subtotal file 3.xml", QStringLiteral("3.xml"),
         [source, sourceFolder](const QString& path) {
             const QString working = QDir(sourceFolder).filePath(QStringLiteral("working.xml"));
             if (!QFile::exists(working))
                 EXPECT_TRUE(ConvertWorkbook(source, working, QStringLiteral("46")).isOk());
             const Result<PageSheet> sheet = readPageSheet(working, QStringLiteral("Sheet1"));
             if (!sheet.isOk()) return sheet.status();
             PageSubtotalOptions options;
             options.rowsPerPage = 20;
             options.sumColumns = {0};
             return writePageSubtotals(sheet.value(), options, path);
         }},
        {"page subtotal workbook", QStringLiteral("名单_分页汇总.xls"),
         [source, sourceFolder](const QString& path) {
             const QString working = QDir(sourceFolder).filePath(QStringLiteral("working.xml"));
             if (!QFile::exists(working))
                 EXPECT_TRUE(ConvertWorkbook(source, working, QStringLiteral("46")).isOk());
             return convertPageSubtotals(working, path);
         }},
        {"difference report", QStringLiteral("report.htm"),
         [](const QString& path) {
             return writeReport(path, QStringLiteral("两表对比"), text, QStringLiteral("/a.xlsx"),
                                QStringLiteral("/b.xlsx"));
         }},
        {"query form page", QStringLiteral("tj_select.htm"),
         [](const QString& path) { return writePageFile(path, text); }},
        {"exported .xlsx", QStringLiteral("结果.xlsx"),
         [](const QString& path) { return writeWorkbook(book, path, FileKind::Xlsx); }},
        {"exported .xls", QStringLiteral("结果.xls"),
         [](const QString& path) { return writeWorkbook(book, path, FileKind::Xls); }},
        {"converted .xlsx (format 51)", QStringLiteral("导出.xlsx"),
         [source](const QString& path) { return ConvertWorkbook(source, path, QStringLiteral("51")); }},
        {"command-line .csv", QStringLiteral("结果.csv"),
         [](const QString& path) { return CsvFormat::writeTable(table, path); }},
        {"command-line .json", QStringLiteral("结果.json"),
         [](const QString& path) {
             return writeJsonTables({{QStringLiteral("对比结果"), &table}}, path);
         }},
    };
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QStringList entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// The message names the file (by name or full path) and says more than that.
void expectNamedFailure(const Status& status, const QString& fileName, const char* what) {
    EXPECT_FALSE(status.isOk()) << what << ": the write reported success";
    const QString message = status.message();
    EXPECT_TRUE(message.contains(fileName)) << what << ": " << message.toStdString();
    const qsizetype at = message.lastIndexOf(fileName);
    EXPECT_GT(message.size() - (at + fileName.size()), 2)
        << what << " gives no reason: " << message.toStdString();
    EXPECT_FALSE(message.contains(QStringLiteral("Unknown error"))) << what << ": " << message.toStdString();
}

// A folder that cannot take new files, undone on destruction.
class LockedFolder {
public:
    explicit LockedFolder(const QString& folder)
        : folder_(folder) {
        if (::geteuid() != 0) {
            locked_ = ::chmod(QFile::encodeName(folder).constData(), 0555) == 0;
            chattr_ = false;
        } else {
            locked_ = QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), folder}) == 0;
            chattr_ = true;
        }
    }
    ~LockedFolder() {
        if (!locked_) return;
        if (chattr_)
            QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), folder_});
        else
            ::chmod(QFile::encodeName(folder_).constData(), 0755);
    }
    bool locked() const { return locked_; }

private:
    QString folder_;
    bool locked_ = false;
    bool chattr_ = false;
};

using test::DiskLimit;

const QByteArray kEarlier = QByteArrayLiteral("the earlier file, which a failed write must leave as it is\n");

// The write failed naming the file; the earlier file at `path` is as it was and the only
// file in its folder.
void expectEarlierKept(const Status& status, const Writer& writer, const QString& path) {
    expectNamedFailure(status, writer.fileName, writer.what);
    EXPECT_EQ(bytesOf(path), kEarlier) << writer.what;
    EXPECT_EQ(entries(QFileInfo(path).path()), QStringList{writer.fileName}) << writer.what;
}

} // namespace

TEST(WriteFailures, FullDiskHalfwayKeepsTheEarlierFile) {
    QTemporaryDir sources;
    for (const Writer& writer : writers(sources.path())) {
        QTemporaryDir dir;
        const QString path = dir.filePath(writer.fileName);
        writeBytes(path, kEarlier);
        // Without the limit the content is larger than the limit: the failure is really halfway.
        {
            QTemporaryDir check;
            ASSERT_TRUE(writer.write(check.filePath(writer.fileName)).isOk()) << writer.what;
            ASSERT_GT(QFileInfo(check.filePath(writer.fileName)).size(), qint64(kDiskLimit)) << writer.what;
        }
        Status status;
        {
            DiskLimit limit(kDiskLimit);
            status = writer.write(path);
        }
        expectEarlierKept(status, writer, path);
    }
}

TEST(WriteFailures, UnwritableFolderKeepsTheEarlierFile) {
    QTemporaryDir sources;
    for (const Writer& writer : writers(sources.path())) {
        QTemporaryDir dir;
        const QString path = dir.filePath(writer.fileName);
        writeBytes(path, kEarlier);
        Status status;
        {
            LockedFolder lock(dir.path());
            if (!lock.locked()) GTEST_SKIP() << "cannot make a folder unwritable here";
            status = writer.write(path);
        }
        expectEarlierKept(status, writer, path);
    }
}

TEST(WriteFailures, TargetThatIsAFolderIsLeftAlone) {
    QTemporaryDir sources;
    for (const Writer& writer : writers(sources.path())) {
        QTemporaryDir dir;
        const QString path = dir.filePath(writer.fileName);
        ASSERT_TRUE(QDir().mkpath(path));
        writeBytes(QDir(path).filePath(QStringLiteral("inside.txt")), kEarlier);
        const Status status = writer.write(path);
        expectNamedFailure(status, writer.fileName, writer.what);
        EXPECT_TRUE(QFileInfo(path).isDir()) << writer.what;
        EXPECT_EQ(entries(path), QStringList{QStringLiteral("inside.txt")}) << writer.what;
        EXPECT_EQ(entries(dir.path()), QStringList{writer.fileName}) << writer.what;
    }
}

// The command line reports each failure in one line on stderr, with exit status 2, and
// leaves the earlier result as it was.
TEST(WriteFailures, CommandLineOutputsKeepTheEarlierFile) {
    QTemporaryDir sources;
    const QString source = sources.filePath(QStringLiteral("源.xml"));
    ASSERT_TRUE(writeWorkbook(largeWorkbook(), source, FileKind::XmlSpreadsheet).isOk());
    for (const char* name : {"结果.xlsx", "结果.xls", "结果.csv", "结果.json"}) {
        const QString fileName = QString::fromUtf8(name);
        QTemporaryDir dir;
        const QString path = dir.filePath(fileName);
        writeBytes(path, kEarlier);
        const std::vector<std::pair<const char*, QStringList>> runs = {
            {"convert", {QStringLiteral("convert"), QStringLiteral("--quiet"), source, path}},
            {"blank-rows",
             {QStringLiteral("blank-rows"), QStringLiteral("--quiet"), QStringLiteral("--count"),
              QStringLiteral("1"), source, QStringLiteral("-o"), path}},
        };
        for (const auto& [command, arguments] : runs) {
            SCOPED_TRACE(std::string(command) + " -> " + name);
            std::ostringstream out, err;
            int exit = -1;
            {
                DiskLimit limit(kDiskLimit);
                exit = cli::runCli(arguments, out, err, false);
            }
            const QString message = QString::fromStdString(err.str());
            EXPECT_EQ(exit, 2) << message.toStdString();
            EXPECT_TRUE(message.contains(fileName)) << message.toStdString();
            EXPECT_EQ(message.count(u'\n'), 1) << message.toStdString();
            EXPECT_EQ(bytesOf(path), kEarlier);
            EXPECT_EQ(entries(dir.path()), QStringList{fileName});
        }
    }
}
