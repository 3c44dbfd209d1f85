#pragma once
// CQuellarDlg: the main window. It holds the two file panes and the result pane, the range
// boxes that show and set each file pane's selection, the menu and the toolbar, and runs
// every command: opening file 1 and file 2, the table operations in their common frame
// (runTableCommand: read the selected ranges under a progress window, ask for the options,
// run the core, write the result into the result pane), export, the report, help and repair.
// Each command is bound to its handler in the command table of CQuellarDlg.cpp; a command
// without a row or a handler there does not compile.
//
// Working files (1.xml, 2.xml, 3.xml, report.htm, the form pages tj_select.htm and tj_sum.htm)
// are written into the window's WorkFolder: startDirectory, the current directory when the
// window was made, unless another window works there already. Each is checked to be what this
// window wrote before it is read back. Questions to
// the user (the condition forms included) go through UserPrompts, so the tests can answer
// them. Failures never end the program: each is shown in a message box titled "Quellar"
// naming what failed, and the panes keep what they showed.

#include "app/UserPrompts.h"
#include "base/MessageTable.h"
#include "base/Progress.h"
#include "base/RowTable.h"
#include "forms/FormReply.h"
#include "table/compare/DetailsPage.h"
#include "table/compare/Report.h"

#include <QMainWindow>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class QAction;
class QCloseEvent;
class QLabel;
class QMenu;
class QSplitter;
class QLineEdit;
class QPushButton;
class QToolBar;

namespace quellar {

class SheetPane;
class CRunDlg;
class Workbook;
class WorkbookInPlace;
class WorkFolder;

class CQuellarDlg : public QMainWindow {
    Q_OBJECT
public:
    // Every command of the menu, the toolbar and the window's buttons.
    enum class Command {
        OpenFile1,
        OpenFile2,
        Export,
        Exit,
        CompareTables,
        CompareBooks,
        GroupSum,
        PageSubtotals,
        Join,
        BlankRows,
        Filter,
        Query,
        ConditionalSum,
        Help,
        Repair,
        WebSite,
        Report,
        Details,
        About,
    };
    static constexpr int kCommandCount = int(Command::About) + 1;

    // startDirectory: where working files go; the current directory by default.
    explicit CQuellarDlg(const QString& startDirectory = QString(), QWidget* parent = nullptr);
    ~CQuellarDlg() override;

    // Seams for the tests: the user's answers, and the clock of the report.
    void setPrompts(std::unique_ptr<UserPrompts> prompts);
    void setClock(Clock clock) { clock_ = std::move(clock); }

    const QString& startDirectory() const { return startDirectory_; }
    // Where this window's working files are, and what it wrote there.
    WorkFolder& workFolder() const { return *workFolder_; }
    // What the condition forms last handed back and the commands have not used up.
    const FormReply& formReply() const { return formReply_; }
    const QString& filePath(int which) const { return which == 1 ? file1Path_ : file2Path_; }
    SheetPane* pane(int which) const; // 1, 2, or 3 for the result pane
    SheetPane* resultPane() const { return pane(3); }
    QLineEdit* rangeBox(int which) const;
    // The menu item of a command (the toolbar button for 网站, which has no menu item).
    QAction* action(Command command) const;
    // The toolbar button of a command, or nullptr.
    QAction* toolAction(Command command) const;
    QToolBar* toolBar() const { return toolBar_; }
    QString statusText() const;
    // The statistics of the last comparison (one entry per compared table pair), what
    // 差异统计 (showStatistics) shows; empty before the first comparison.
    const NamedStatistics& statistics() const { return statistics_; }
    QAction* statisticsAction();
    // The splitter between the file panes and the result pane, and the recent files of
    // file 1 and file 2 (WindowHabits.cpp).
    QSplitter* splitter() const { return splitter_; }
    QMenu* recentMenu(int which) const;
    // The window's title: "Quellar — 文件1 ↔ 文件2" by the open files' names, one name when only
    // one is open, "Quellar" when none is (WindowHabits.cpp).
    static QString titleFor(const QString& file1Path, const QString& file2Path);

    // Opens `path` as file `which` (1 or 2) without asking: reads it, shows it protected with
    // its used range selected, and writes it as the working file beside the window. A failure
    // to read is shown in a message box and leaves the pane as it was; returns whether it
    // worked. A failure to write the working file is told once it is known.
    bool openWorkbook(int which, const QString& path);
    // Waits until the working files being written beside the window are written, and shows
    // the message of one that failed.
    void settleWorkingFiles();

public slots:
    void openFile1() { openFile(1); }
    void openFile2() { openFile(2); }
    void exportToExcel();
    void compareTables();
    void compareBooks();
    void groupSummary();
    void pageSubtotals();
    void join();
    void addBlankRows();
    void compareFilter();
    void conditionalQueryCommand();
    void conditionalSummaryCommand();
    void showReport();
    void showDetails();
    void showStatistics();
    void showHelp();
    void showWebSite();
    void repair();
    void showAbout();
    void closeWindow() { close(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Keeps the window's size and place and the splitter's position for the next run.
    void closeEvent(QCloseEvent* event) override;

private:
    struct CommandActions {
        QAction* menu = nullptr;
        QAction* tool = nullptr;
    };

    using Tables = std::vector<RowTable>;
    // What a table operation supplies to runTableCommand; the frame does the rest.
    struct TableCommand {
        int panes = 1; // whose selections are read: file 1, or files 1 and 2
        // Whether `ask` needs every row (a form page lists the values); otherwise it is given
        // the tables' first rows, which hold their field rows.
        bool askReadsAllRows = false;
        // With the progress window gone: asks for the options (and may refuse with a
        // message). False ends the command: cancelled, nothing chosen, or refused.
        std::function<bool(Tables& tables)> ask;
        // The core, writing its result into the result pane.
        std::function<Status(ResultSink& sink, Progress& progress, Tables& tables)> run;
        // The status line once the result is shown.
        std::function<QString()> done;
        // What follows the shown result, if anything (the report, a note).
        std::function<void()> then = {};
    };

    // The everyday desktop habits (WindowHabits.cpp).
    void buildSplitter();
    void buildHabits();
    void rememberOpened(int which, const QString& path);
    void refreshRecentMenu(int which);
    void openRecent(int which, const QString& path);
    // A window that does not work in the start folder says so for good in a line of its own,
    // so that no later status text hides it; and it opens offset from the windows before it.
    void showFolderNote(const QString& note);
    void placeBesideOtherWindows();
    // Hands `path` to the desktop (a workbook to the spreadsheet program); when no program
    // could open it, says so, naming the file and what would open it, and names the program
    // that failed to start.
    bool openOnDesktop(const QString& path, bool workbook);
    // What 帮助 › 修复 checked and found (WindowHabits.cpp).
    QString repairReport() const;

    void buildActions();
    void buildMenu();
    void buildToolBar();
    void buildControls();
    void layoutControls();

    void openFile(int which);
    // Writes working file `name` of pane `which` from `book` beside the user-interface thread;
    // a failure is told in a message once it is known. `source` can write it again.
    void writeWorkingFile(int which, const QString& name, const QString& source,
                          std::shared_ptr<const WorkbookInPlace> book);
    // Runs `work` beside the user-interface thread while a busy window shows `text`; 取消 there
    // makes it Status::cancelled() (the work answers at its cancellation points).
    Status runInBackground(const QString& text, const std::function<Status()>& work);
    void showSelection(int which);
    void applyTypedRange(int which, bool normalise);
    void showFileName(int which);

    // The error boundary of every command: `work` runs unless another command is running;
    // an exception ends it with a message box naming the command `name`.
    void guarded(const QString& name, const std::function<void()>& work);
    // "<command>没有完成。" with the reason, in a message box; a command the user cancelled
    // (Status::Code::Cancelled) is told on the status line.
    void reportFailure(Command command, const Status& status);
    // The frame of the table operations: reads the selected ranges, asks, runs the core
    // into the result pane under the progress window, and shows the result or the failure.
    void runTableCommand(Command command, const TableCommand& table);
    // Clips the selection of each of the first paneCount file panes; empty (after a message)
    // when a selection is too large or the user cancelled.
    std::vector<RangeBounds> sourceRanges(Command command, int paneCount, CRunDlg& progress);
    // Reads the ranges under the "init" progress; the panes in `packing` with takeShownRange.
    Tables readSources(const std::vector<RangeBounds>& ranges, Progress& progress,
                       const std::vector<SheetPane*>& packing = {});
    // The first rows of each range, down to its field row (the whole range when none of the
    // first rows is one): what the options dialogs need.
    Tables readFieldRows(const std::vector<RangeBounds>& ranges);
    // Writes report.htm (and opens it) and the details page report-details.htm beside it.
    void finishComparison(const QString& reportTitle, const DetailsPage& details);
    // 条件查询 (summary false) and 条件汇总: the form page built from the file 1 table,
    // written into startDirectory and shown; what its button handed back, or nullopt
    // (after a message) when there is nothing to run.
    std::optional<FormReply> askConditions(bool summary, const RowTable& table);
    // Shows the result pane's first sheet, where an operation has just written.
    void showResultSheet();
    void showStatus(const QString& text);
    void showMessage(const QString& text, bool warning = true);

    std::unique_ptr<UserPrompts> prompts_;
    Clock clock_;
    QString startDirectory_;
    std::unique_ptr<WorkFolder> workFolder_;
    QString file1Path_;
    QString file2Path_;
    QString reportText_;
    NamedStatistics statistics_;
    QAction* statisticsAction_ = nullptr;
    // Keeps the statistics of a comparison just made and returns what the status line adds.
    QString keepStatistics(NamedStatistics statistics);
    // What the condition form pages hand back; kept for the window's life.
    FormReply formReply_;

    QWidget* central_ = nullptr;
    SheetPane* pane1_ = nullptr;
    SheetPane* pane2_ = nullptr;
    SheetPane* result_ = nullptr;
    QLineEdit* range1_ = nullptr;
    QLineEdit* range2_ = nullptr;
    QPushButton* open1_ = nullptr;
    QPushButton* open2_ = nullptr;
    QPushButton* export_ = nullptr;
    QPushButton* report_ = nullptr;
    QPushButton* details_ = nullptr;
    QLabel* file1Label_ = nullptr;
    QLabel* file2Label_ = nullptr;
    QLabel* status_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    std::map<Command, CommandActions> actions_;
    bool typing_[3] = {false, false, false};
    bool commandRunning_ = false;
    QSplitter* splitter_ = nullptr;
    QWidget* sourcePanes_ = nullptr;
    bool splitterPlaced_ = false;
    QMenu* recent_[2] = {};
};

} // namespace quellar
