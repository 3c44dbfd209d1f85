#pragma once
// SheetPaneModel: a thin table model over one sheet of a Workbook, for the grid panes.
//
// The model does not own the workbook; the SheetPane that owns both keeps the workbook
// alive and tells the model when it changed (setSheet, refresh). It spans the grid's full
// extent (1,048,576 rows x 16,384 columns by default) and answers data() in constant time:
// a row-index vector maps a sheet row to its stored row, and each workbook style is turned
// into its font, brushes, alignment and parsed number format once, on first use.
//
// Values are shown through their number format (DisplayFormat); editing (when the pane
// allows it and the sheet is not protected) interprets the typed text the way the result
// writer does: a text becomes a number or a date only when nothing of it would be lost.

#include "workbook/DisplayFormat.h"
#include "workbook/Workbook.h"

#include <QAbstractTableModel>
#include <QFont>

#include <vector>

namespace quellar {

class SheetPaneModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit SheetPaneModel(QObject* parent = nullptr);

    // Shows sheet `sheetIndex` of `book` (not owned); a null book shows an empty grid.
    void setSheet(Workbook* book, int sheetIndex);
    // Rebuilds the row index and redraws after the shown sheet was changed from outside.
    void refresh();
    Workbook* workbook() const { return book_; }
    const Sheet* sheet() const;
    int sheetIndex() const { return sheetIndex_; }

    // Whether cells may be edited at all (a protected sheet never is).
    void setEditable(bool editable) { editable_ = editable; }
    bool isEditable() const;

    // The grid's extent; tests use a small one so that a model checker can visit every cell.
    void setExtent(int rows, int columns);
    int extentRows() const { return rows_; }
    int extentColumns() const { return columns_; }

    // The stored cell at (row, column), 0-based, or nullptr. O(1) for dense rows.
    const Cell* cellAt(int row, int column) const;
    // While hidden, no cell is read (another thread is moving them) and every cell is empty.
    void setCellsHidden(bool hidden) { cellsHidden_ = hidden; }
    // The text a cell shows, as drawn in the grid.
    QString displayText(int row, int column) const;
    // The shorter texts the cell's number or date may be drawn with in a narrow column
    // (DisplayFormat::narrowTexts); empty for texts and empty cells.
    std::vector<QString> narrowTexts(int row, int column) const;
    // Whether a cell holds anything that stops a neighbour's text running on over it: a
    // value (an empty text is none) or a formula.
    bool hasContent(int row, int column) const;
    // Whether the cell holds a text that may run on over empty neighbours when it is too
    // long for its cell: a text value, not wrapped, aligned General, left, right or centred.
    bool mayOverflow(int row, int column) const;

    // The font cells of the default style use, spaced as Excel draws it (excelGridFont);
    // the view draws with it.
    QFont defaultFont() const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    // Sets the value of a cell from typed text ("" clears it). False when not editable.
    bool setCellText(int row, int column, const QString& text);

    // Points to the pixels the grid draws with (96 pixels per inch).
    static int pointsToPixels(double points);

    // --- showing some rows only (only the differences of a comparison result)
    // The view shows just these sheet rows (0-based, ascending), its row numbers still the
    // sheet's; no rows are copied, view rows are mapped onto sheet rows. Empty: every row.
    void showOnlyRows(std::vector<int32_t> rows);
    void showAllRows();
    bool showsSomeRows() const { return filtered_; }
    size_t shownRowCount() const { return shownRows_.size(); }
    // The sheet row a view row shows, and the view row showing a sheet row (-1 when hidden).
    int sheetRow(int viewRow) const;
    int viewRow(int sheetRow) const;

private:
    struct Look {
        QVariant font; // empty for the default font
        QVariant background;
        QVariant foreground;
        int horizontal = 0; // Qt alignment flag, 0 for General (decided by the value)
        int vertical = Qt::AlignBottom;
        DisplayFormat format;
        bool formatHasColors = false;
        bool overflows = false; // a text may run on over empty neighbours
        bool ready = false;
    };
    const Look& look(uint32_t style) const;
    void rebuildRowIndex();

    Workbook* book_ = nullptr;
    int sheetIndex_ = -1;
    bool editable_ = true;
    bool cellsHidden_ = false;
    int rows_ = kMaxRows;
    int columns_ = kMaxColumns;
    std::vector<int32_t> rowSlot_; // sheet row index -> position in Sheet::rows, or -1
    bool filtered_ = false;
    std::vector<int32_t> shownRows_; // while filtered: view row -> sheet row
    mutable std::vector<Look> looks_;
};

} // namespace quellar
