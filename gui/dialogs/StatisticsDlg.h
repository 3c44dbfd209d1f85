#pragma once
// StatisticsDlg (差异统计): the statistics of the last comparison. For each compared table
// pair (one for 两表对比, one per sheet pair for 两簿比较, chosen in a list) the row and cell
// counts and a table with one line per column: its name in file 1 and file 2, whether it was
// compared, its differing cells and the largest difference between differing numbers. The
// rules in force are named below. Read only; 关闭 closes it.

#include "table/compare/CompareStatistics.h"

#include <QDialog>

#include <utility>
#include <vector>

class QComboBox;
class QLabel;
class QTableWidget;

namespace quellar {

using NamedStatistics = std::vector<std::pair<QString, CompareStatistics>>;

class StatisticsDlg : public QDialog {
    Q_OBJECT
public:
    explicit StatisticsDlg(const NamedStatistics& statistics, QWidget* parent = nullptr);

    QComboBox* sheetChooser() const { return sheets_; }
    QLabel* countsLabel() const { return counts_; }
    QTableWidget* columnTable() const { return table_; }

private:
    void show(int index);

    NamedStatistics statistics_;
    QComboBox* sheets_;
    QLabel* counts_;
    QTableWidget* table_;
    QLabel* rules_;
};

} // namespace quellar
