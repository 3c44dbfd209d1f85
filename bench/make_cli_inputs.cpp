// Makes the inputs that bench/cli_end_to_end.sh times quellar-cli on: two workbooks of ROWS
// records x 10 fields keyed by "编号" (the second with 1% of the rows changed and 1% dropped
// and replaced by new ones), written as xlsx into FOLDER as a_ROWS.xlsx and b_ROWS.xlsx; the
// first with rows deleted, changed and appended for the aligned comparison (deriveEditedTable)
// as e_ROWS.xlsx; and
// the 1,048,576 x 10 xlsx the other benchmarks share. Files already there are kept.
//
// Usage: make_cli_inputs FOLDER ROWS...

#include "bench/BenchXlsx.h"
#include "bench/TableGenerator.h"
#include "workbook/WorkbookFormat.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>

using namespace quellar;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: make_cli_inputs FOLDER ROWS...\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (bench::benchXlsxPath().isEmpty()) {
        std::fprintf(stderr, "cannot generate the 1,048,576-row workbook\n");
        return 2;
    }
    for (int i = 2; i < argc; ++i) {
        const int64_t rows = QByteArray(argv[i]).toLongLong();
        const QString a = folder.filePath(QStringLiteral("a_%1.xlsx").arg(rows));
        const QString b = folder.filePath(QStringLiteral("b_%1.xlsx").arg(rows));
        const QString e = folder.filePath(QStringLiteral("e_%1.xlsx").arg(rows));
        if (QFileInfo::exists(a) && QFileInfo::exists(b) && QFileInfo::exists(e)) continue;
        std::printf("generating the missing ones of %s, %s and %s ...\n", qPrintable(a), qPrintable(b),
                    qPrintable(e));
        std::fflush(stdout);
        bench::GeneratorOptions options;
        options.rows = rows;
        const RowTable t1 = bench::generateTable(options);
        const RowTable t2 = bench::deriveTable(t1, 0.01, 0.01, 7);
        const RowTable edited = bench::deriveEditedTable(t1);
        for (const auto& [path, table] : {std::pair{a, &t1}, std::pair{b, &t2}, std::pair{e, &edited}}) {
            if (QFileInfo::exists(path)) continue; // kept, as another run may be reading it
            const Status status =
                writeWorkbook(bench::tableToWorkbook(*table, QStringLiteral("Sheet1")), path, FileKind::Xlsx);
            if (!status.isOk()) {
                std::fprintf(stderr, "%s\n", qPrintable(status.message()));
                return 2;
            }
        }
    }
    return 0;
}
