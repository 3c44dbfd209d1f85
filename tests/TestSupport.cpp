#include "tests/TestSupport.h"

#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

namespace quellar::test {

RowTable makeTable(const std::vector<QStringList>& rows) {
    RowTable table;
    for (const QStringList& texts : rows) {
        Row row;
        for (const QString& t : texts) {
            CellRecord cell;
            cell.text = SharedText(t);
            cell.fillColorIndex = Fill::White;
            cell.mergeState = MergeState::Single;
            row.push_back(cell);
        }
        table.push_back(std::move(row));
    }
    return table;
}

RowTable tbl(const QString& description) {
    std::vector<QStringList> rows;
    for (const QString& line : description.split(u';'))
        rows.push_back(line.split(u','));
    return makeTable(rows);
}

QString tableText(const RowTable& table) {
    QStringList lines;
    for (const Row& row : table) {
        QStringList cells;
        for (const CellRecord& c : row) {
            switch (c.mergeState) {
            case MergeState::Covered:
                cells.append(QStringLiteral("~"));
                break;
            case MergeState::TextOnly:
                cells.append(c.text.toQString() + u'*' + QString::number(c.fillColorIndex));
                break;
            case MergeState::Anchor:
                cells.append(QStringLiteral("%1:%2[%3x%4]")
                                 .arg(c.text.toQString())
                                 .arg(c.fillColorIndex)
                                 .arg(c.mergeRows)
                                 .arg(c.mergeColumns));
                break;
            default:
                cells.append(c.text.toQString() + u':' + QString::number(c.fillColorIndex));
                break;
            }
        }
        lines.append(cells.join(u' '));
    }
    return lines.join(u'\n');
}

QString tableTexts(const RowTable& table) {
    QStringList lines;
    for (const Row& row : table) {
        QStringList cells;
        for (const CellRecord& c : row)
            cells.append(c.text.toQString());
        lines.append(cells.join(u' '));
    }
    return lines.join(u'\n');
}

QString cellFieldsText(const RowTable& table, bool everyField) {
    QStringList lines;
    for (const Row& row : table) {
        QStringList cells;
        for (const CellRecord& c : row)
            cells.append(
                everyField ? QStringLiteral("%1|%2|%3|%4|%5|%6|%7")
                                 .arg(c.text.toQString(), c.formula.toQString(), c.numberFormat().toQString())
                                 .arg(c.fillColorIndex)
                                 .arg(int(c.mergeState))
                                 .arg(c.alignment1)
                                 .arg(c.alignment2)
                           : QStringLiteral("%1|%2|%3")
                                 .arg(c.text.toQString())
                                 .arg(c.fillColorIndex)
                                 .arg(int(c.mergeState)));
        lines.append(cells.join(u' '));
    }
    return lines.join(u'\n');
}

QString testDataPath(const QString& relative) {
    return QStringLiteral(QUELLAR_TEST_DATA_DIR) + u'/' + relative;
}

QByteArray bytesOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

void expectMentions(const QString& message, const QStringList& texts, const std::string& what) {
    for (const QString& text : texts)
        EXPECT_TRUE(message.contains(text)) << what << ": " << message.toStdString();
}

QString pythonWith(const char* module) {
    for (const QString& python : {QStringLiteral("/usr/bin/python3"), QStringLiteral("python3")}) {
        QProcess p;
        p.start(python, {QStringLiteral("-c"), QStringLiteral("import ") + QString::fromLatin1(module)});
        if (p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
            return python;
    }
    return QString();
}

Status RecordingSink::writeResult(int sheetNumber, const QString& sheetName, const RowTable& table,
                                  Progress& progress, int64_t step) {
    for (size_t i = 0; i < table.size(); ++i)
        if (i % size_t(step) == 0) progress.advance(step);
    sheets[sheetNumber] = Written{sheetName, table, step};
    return Status::ok();
}

} // namespace quellar::test
