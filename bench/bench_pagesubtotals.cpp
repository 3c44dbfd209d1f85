#include "bench/TableGenerator.h"
#include "workbook/WorkbookFormat.h"
#include "workbook/XMLTools.h"
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <cstdio>
using namespace quellar;
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString xml = QStringLiteral("/tmp/pagesum/1.xml");
    QElapsedTimer t; t.start();
    if (!QFileInfo::exists(xml)) {
        bench::GeneratorOptions o; o.rows = 1048575; o.columns = 10;
        Workbook book = bench::tableToWorkbook(bench::generateTable(o), QStringLiteral("数据"));
        Status s = writeWorkbook(book, xml, FileKind::XmlSpreadsheet);
        std::printf("gen %.2f s %s size %lld\n", bench::seconds(t), qPrintable(s.message()), QFileInfo(xml).size());
    }
    bench::resetPeakMemory();
    t.restart();
    XMLTools tools;
    Status s = tools.load(xml);
    std::printf("load %.2f s ok=%d RSS %.0f peak %.0f\n", bench::seconds(t), s.isOk(), bench::currentMemoryMB(), bench::peakMemoryMB());
}
