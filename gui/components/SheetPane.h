#pragma once
// SheetPane: one grid pane of the main window. It owns a Workbook and shows one of its
// sheets in a QTableView (column letters, row numbers, merged areas as spans, fills, fonts,
// alignments, column widths, row heights, number formats) with the sheets as tabs below.
//
// The file panes load a workbook, protect it and report every change of the selection;
// the operations read the shown sheet's selection from them. The result pane receives
// operation results (it is a ResultSink) and exports its whole workbook. A pane starts
// with the grid's initial workbook: three empty sheets "Sheet1".."Sheet3", font 宋体 11.
//
// Nothing here fails loudly: loading and exporting return a Status naming the file, and a
// failed load leaves the pane showing what it showed before.

#include "base/Progress.h"
#include "base/RowTable.h"
#include "table/compare/Comparison.h"
#include "table/compare/DifferenceRows.h"
#include "workbook/PackedCells.h"
#include "workbook/Workbook.h"
#include "workbook/WorkbookFormat.h"

#include <QWidget>

#include <functional>
#include <optional>
#include <thread>
#include <vector>

class QAction;
class QCheckBox;
class QLabel;
class QKeyEvent;
class QTabBar;
class QTableView;
class QItemSelection;

namespace quellar {

class SheetPaneModel;
class SheetGridView;
class FindBar;
struct GridCell;

class SheetPane : public QWidget, public ComparisonSink {
    Q_OBJECT
public:
    explicit SheetPane(QWidget* parent = nullptr);
    ~SheetPane() override;

    // --- the workbook
    const Workbook& workbook() const { return book_; }
    // Shows `book` (its active sheet), replacing what the pane held; `selection`, when given,
    // is what the active sheet shows selected (otherwise A1, or the used range for the file
    // panes, found here).
    void setWorkbook(Workbook book, std::optional<RangeBounds> selection = std::nullopt);
    // Reads a workbook file (any format the engine reads). On failure the pane is unchanged.
    Status loadFile(const QString& path);
    // Writes the whole workbook (atomically) in the format `kind`.
    Status exportWorkbook(const QString& path, FileKind kind) const;

    int sheetCount() const { return int(book_.sheets.size()); }
    int activeSheetIndex() const { return book_.activeSheet; }
    const Sheet& activeSheet() const { return book_.sheets[size_t(book_.activeSheet)]; }
    void setActiveSheet(int index);

    // Sheets by 1-based number, as the operations count them.
    void clearSheet(int number);
    void renameSheet(int number, const QString& name);
    // Appends a sheet and returns its number.
    int addSheet(const QString& name);

    // Protection: a protected sheet cannot be edited. protectAll protects every sheet.
    void protectActiveSheet();
    void protectAll();
    // Whether the pane lets unprotected sheets be edited at all.
    void setEditable(bool editable);

    // --- selection (1-based bounds on the shown sheet)
    RangeBounds selection() const;
    void select(const RangeBounds& range);
    // Selects the shown sheet's used range (A1 for an empty sheet).
    void selectUsedRange();
    // Whether a sheet shown for the first time gets its used range selected (the file
    // panes) rather than A1.
    void setFirstSelectionIsUsedRange(bool on) { firstSelectionIsUsedRange_ = on; }
    // The bounds of the whole grid.
    RangeBounds wholeSheet() const;
    static RangeBounds usedRangeBounds(const Sheet& sheet);

    // The grid's display switches: while off, the view shows nothing and redraws nothing,
    // so a bulk change of the workbook costs no drawing; switching on shows the result.
    void setScreenUpdating(bool on);

    // ResultSink: clears sheet `sheetNumber` (adding sheets as needed), names it and writes
    // the table into it, then shows the pane's workbook again.
    Status writeResult(int sheetNumber, const QString& sheetName, const RowTable& table, Progress& progress,
                       int64_t step) override;
    // The same for a result nobody keeps: its rows are given back as they are written.
    Status takeResult(int sheetNumber, const QString& sheetName, RowTable&& table, Progress& progress,
                      int64_t step) override;

    // --- the differences of comparison results (SheetPaneDifferences.cpp)
    // Comparison results written here get an index of their marked (red, yellow, green)
    // cells, made while the result is written. For the result pane: shows the 只看差异
    // switch and the row count beside the sheet tabs, and gives the grid F8 / Shift+F8 and
    // their context menu entries.
    void enableDifferenceTools();
    // Shows only the field row and the rows with a marked cell of the shown sheet, when it
    // holds a comparison result; off shows every row again. The table is not copied: the
    // model maps the shown rows onto the sheet's rows.
    void setOnlyDifferences(bool on);
    bool onlyDifferences() const { return onlyDifferences_; }
    // Selects the next (or previous) marked cell after the current cell in reading order,
    // also in rows hidden at the time, and scrolls to it. False when there is none.
    bool goToDifference(bool forward);
    // "显示 N 行，共 M 行" for the shown sheet; empty when it holds no comparison result.
    QString differenceStatusText() const;
    // ComparisonSink: the next result for `sheetNumber` is a comparison result.
    void takeLayout(int sheetNumber, const CompareLayout& layout) override;

    QTableView* view() const;
    QTabBar* tabBar() const { return tabs_; }
    SheetPaneModel* model() const { return model_; }

    // Grid extent (tests use a small one); by default XFD1048576.
    void setExtent(int rows, int columns);

    // The pixels a row of `points` height is drawn with: at 96 pixels per inch, grown in
    // proportion when the font that shows the workbook's default font is taller than it.
    int rowPixels(double points) const;

    // --- one operation's result at a time (the result pane)
    // Starts the result of an operation: what the operation writes (writeResult, takeResult,
    // also from a thread other than the user-interface thread) goes into a workbook of its own,
    // started as the three empty sheets a pane starts with, so that the new result is all the
    // pane will hold (and all an export writes). The pane goes on showing what it held; its
    // workbook and the view are not touched until finishResult.
    void startResult();
    // Ends the result started by startResult, on the user-interface thread: `succeeded` shows
    // the workbook built; otherwise (a failure, a cancel) it is dropped and the pane stays as
    // it was.
    void finishResult(bool succeeded);
    // Between startResult and finishResult, on the thread that builds the result and before
    // it takes its memory: a large workbook the pane held when the result was started (its
    // view let go of it then) is packed (PackedCells) until finishResult, which shows it again
    // after a failure or drops it. The memory of its cells goes back to the system, so the
    // new result is built in it. Nothing happens for a smaller one.
    void packLastResult();
    // Whether cells of the pane's workbook are packed now (for tests).
    bool cellsPacked() const { return !packed_.empty(); }

    // --- a large source range read beside the user-interface thread
    // On the user-interface thread: the view lets go of the workbook's cells (and keeps the
    // picture it shows) while another thread packs them (takeShownRange, packLastResult).
    void letViewGo();
    // Reads `bounds` of the shown sheet into a table as readRange does; each row's cells are
    // packed as the row is read, so the pane's cells and the table are not both whole in
    // memory. unpackCells gives them back.
    RowTable takeShownRange(const RangeBounds& bounds, Progress& progress, int64_t step);
    // Gives back the cells packed (takeShownRange, packLastResult); on the thread that packed
    // them or, once it has ended, on any other, while the view has let go.
    void unpackCells();
    // On the user-interface thread, after letViewGo: gives back what is still packed and shows
    // the workbook again.
    void showAgain();
    // Workbooks of this many rows or more are freed beside the user-interface thread.
    static constexpr size_t kLetGoAsideRows = 20000;
    // startResult when made, finishResult(succeeded) when it goes, an exception included.
    class ResultScope {
    public:
        explicit ResultScope(SheetPane& pane)
            : pane_(pane) {
            pane_.startResult();
        }
        ~ResultScope() { pane_.finishResult(succeeded); }
        // Shows the result now.
        void succeed() {
            succeeded = true;
            pane_.finishResult(true);
        }
        ResultScope(const ResultScope&) = delete;
        ResultScope& operator=(const ResultScope&) = delete;
        bool succeeded = false;

    private:
        SheetPane& pane_;
    };

    // --- everyday keys, find and the context menu (SheetPaneKeys.cpp)
    // Copies the selection as tab-separated text (refused beyond two million cells).
    void copySelection() const;
    // Sizes the selected columns to their widest shown text (the default width when empty).
    void autoFitColumns();
    // Ctrl+Home / Ctrl+End: to A1 / the last used cell; Ctrl+arrow: to the edge of the data
    // (GridNavigation). With `extend` (Shift) the current cell stays and the selection grows.
    void goToFirstCell(bool extend);
    void goToLastUsedCell(bool extend);
    void goToDataEdge(int rowStep, int columnStep, bool extend);
    // Looks for `text` (any case) in the shown texts of the sheet's cells, by rows from the
    // current cell and round again from the other end; selects the cell found. False when
    // no cell holds it.
    bool findText(const QString& text, bool backward);
    // Ctrl+F opens the find strip; F3 / Shift+F3 look again for its text.
    void openFind();
    bool findAgain(bool backward);
    FindBar* findBar() const { return findBar_; }
    // The context menu: 复制, 全选, 自动调整列宽, 查找, then what is added here, one line per item.
    // An action the pane owns also works by its shortcut while the grid has focus.
    void addContextAction(QAction* action);
    void addContextSeparator();
    const QList<QAction*>& contextActions() const { return contextActions_; }

signals:
    // The selection of the shown sheet changed (also when set by the program).
    void selectionChanged(quellar::RangeBounds range);
    // Another sheet is shown.
    void sheetChanged(int index);

private:
    friend class SheetGridView;
    void buildEverydayActions();
    // The keys of SheetPaneKeys.cpp; false for any other key.
    bool handleEverydayKey(QKeyEvent* event);
    void moveTo(const GridCell& target, bool extend);
    // The corner of the selection that Shift+key moves: the one opposite the current cell.
    GridCell movingEnd() const;
    void showContextMenu(const QPoint& position);

    // Runs `write` (a result written into the workbook) with drawing switched off, then
    // forgets the written sheet's selection.
    Status writeResultRows(int sheetNumber, const std::function<Status()>& write);
    // Frees a workbook the pane no longer shows (and cells packed from it): a large one on a
    // thread of its own.
    void letGo(Workbook book, PackedCells packed = {});
    void showActiveSheet();
    void rebuildTabs();
    void applyGeometry();
    void updateSpans();
    void onSelectionChanged();
    // The differences part (SheetPaneDifferences.cpp).
    struct SheetDifferences {
        DifferenceIndex index;
        std::vector<int32_t> shownRows; // the field row and the marked rows
        size_t rows = 0;
    };
    // Shows `book` with the differences of its sheets; what the pane held is let go, and
    // `packed`, cells packed from it, with it.
    void showWorkbook(Workbook book, std::vector<std::optional<SheetDifferences>> differences,
                      std::optional<RangeBounds> selection = std::nullopt, PackedCells packed = {});
    std::optional<SheetDifferences> indexDifferences(int sheetNumber, const RowTable& table) const;
    void keepDifferences(int sheetNumber, std::optional<SheetDifferences> differences);
    const SheetDifferences* shownDifferences() const;
    void applyDifferenceFilter();
    void updateDifferenceStatus();

    Workbook book_;
    SheetPaneModel* model_ = nullptr;
    SheetGridView* view_ = nullptr;
    QTabBar* tabs_ = nullptr;
    // Remembered per sheet while another is shown; empty for a sheet not shown yet.
    std::vector<std::optional<RangeBounds>> sheetSelections_;
    bool firstSelectionIsUsedRange_ = false;
    bool screenUpdating_ = true;
    bool rebuildingTabs_ = false;
    // Merged areas shown as spans: all of them when few, otherwise those near the view.
    bool windowedSpans_ = false;
    std::vector<size_t> mergesByRow_;
    int32_t tallestMerge_ = 1;
    int spanTop_ = -1, spanBottom_ = -1;
    double rowScale_ = 1.0;
    // The differences part.
    std::vector<std::optional<SheetDifferences>> differences_; // by sheet index
    int layoutSheet_ = 0;     // the sheet number whose comparison layout came last
    int layoutFieldRow_ = -1; // its field row
    bool onlyDifferences_ = false;
    QCheckBox* onlyDifferencesBox_ = nullptr;
    QLabel* differenceStatus_ = nullptr;
    // The result being built (startResult .. finishResult) and its differences.
    std::optional<Workbook> building_;
    std::vector<std::optional<SheetDifferences>> buildingDifferences_;
    bool resultStarted_ = false;
    // The last result while the next is built: packLastResult packs it when startResult
    // found it large (and let the view go of it).
    bool packWhenStarted_ = false;
    PackedCells packed_;
    bool cellsLost_ = false; // no memory to unpack them: showAgain starts the pane empty
    // Frees the workbook let go last (letGo).
    std::thread letGo_;
    FindBar* findBar_ = nullptr;
    QList<QAction*> contextActions_;
};

} // namespace quellar
