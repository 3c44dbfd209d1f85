#pragma once
// Helpers shared by the tests: build a RowTable from plain texts, print a table as one
// compact string so a failing comparison shows the whole difference, a ResultSink that
// records what it is given, and the path of the test data folder.

#include "base/Progress.h"
#include "base/RowTable.h"

#include <QString>
#include <QStringList>

#include <map>
#include <string>
#include <vector>

namespace quellar::test {

// Rows of Single cells with fill 2, as readRange produces them.
RowTable makeTable(const std::vector<QStringList>& rows);

// Makes `cell` the top-left cell of a merged area of rows x columns; the cells it covers are
// marked by the caller.
inline void makeAnchor(CellRecord& cell, int rows, int columns) {
    cell.mergeState = MergeState::Anchor;
    cell.mergeRows = rows;
    cell.mergeColumns = columns;
}

// "id,v;1,a;2,b": rows separated by ";", cells by ","; an empty cell is nothing between commas.
RowTable tbl(const QString& description);

// "a:2 b:3 | c:6\n..." — each cell as text:fill, Covered cells as "~", TextOnly as "text*fill".
QString tableText(const RowTable& table);
// Each cell as "text|fill|merge state", or with `everyField` as "text|formula|number
// format|fill|merge state|alignment1|alignment2"; cells joined by spaces, rows by newlines.
QString cellFieldsText(const RowTable& table, bool everyField = false);

// Only the texts: "a b\nc d".
QString tableTexts(const RowTable& table);

QString testDataPath(const QString& relative);

// The bytes of a file ("" when it cannot be read), and a file written with exactly `bytes`
// (false when it cannot be written).
QByteArray bytesOf(const QString& path);
bool writeBytes(const QString& path, const QByteArray& bytes);

// `message` contains every one of `texts`; a failure names `what` and shows the message.
void expectMentions(const QString& message, const QStringList& texts, const std::string& what);

// A python3 that can import `module` (a reference reader the tests compare with); "" when
// there is none.
QString pythonWith(const char* module);

class RecordingSink : public ResultSink {
public:
    Status writeResult(int sheetNumber, const QString& sheetName, const RowTable& table, Progress& progress,
                       int64_t step) override;
    struct Written {
        QString name;
        RowTable table;
        int64_t step = 0;
    };
    std::map<int, Written> sheets;
};

// Records every call made on it, for checking the progress rule.
class RecordingProgress : public Progress {
public:
    // Notes each text by its key's short name ("run").
    void setText(Msg key) override { texts.append(QString::fromLatin1(MessageTable::name(key))); }
    void setRange(int64_t maximum) override { ranges.push_back(maximum); }
    void setStep(int64_t s) override { steps.push_back(s); }
    void setPosition(int64_t p) override {
        position_ = p;
        positions.push_back(p);
    }
    int64_t position() const override { return position_; }

    QStringList texts;
    std::vector<int64_t> ranges, steps, positions;

private:
    int64_t position_ = 0;
};

} // namespace quellar::test
