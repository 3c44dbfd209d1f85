#pragma once
// What the GUI tests share: prompts that answer from a script and record what the window
// would have shown, a fixture holding a shown window, and a compact text of a sheet's cells
// for one-assertion comparisons.

#include "app/CQuellarDlg.h"
#include "app/UserPrompts.h"
#include "base/Progress.h"
#include "tests/TestSupport.h"
#include "workbook/Workbook.h"

#include <QApplication>
#include <QComboBox>
#include <QSet>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <optional>

namespace quellar::test {

// The staff lists the window tests open: gui/staff1.xml and gui/staff2.xml.
QString staff(int n);

class ScriptedPrompts : public UserPrompts {
public:
    std::optional<QString> openWorkbookPath(QWidget*, int which) override;
    std::optional<SaveChoice> exportPath(QWidget*) override;
    std::optional<DiffChoice> diffOptions(QWidget*, const FieldList& fields) override;
    std::optional<CompareOptions> bookOptions(QWidget*) override;
    std::optional<JoinChoice> joinOptions(QWidget*, const FieldList& commonFields) override;
    std::optional<FilterChoice> filterOptions(QWidget*, const FieldList& offeredFields) override;
    std::optional<GroupSumChoice> groupSumOptions(QWidget*, const FieldList& fields) override;
    std::optional<int> blankRowCount(QWidget*) override;
    void conditionForm(QWidget*, const QString& pagePath, FormReply& reply) override;
    void message(QWidget*, const QString& text, bool warning) override;
    // The desktop seam: records what would have been opened; with desktopFails set, no
    // program can open anything; with failingProgram set, that program fails to start.
    DesktopOpening openDocument(const QString& path) override {
        opened.append(path);
        return desktopOpening();
    }
    DesktopOpening showWorkbook(const QString& path) override {
        shownWorkbooks.append(path);
        return desktopOpening();
    }
    DesktopOpening desktopOpening() const {
        if (desktopFails) return {DesktopOpening::Outcome::NoProgram, {}};
        if (!failingProgram.isEmpty()) return {DesktopOpening::Outcome::FailedToStart, failingProgram};
        return {};
    }
    bool desktopFails = false;
    QString failingProgram;
    void showStatistics(QWidget*, const NamedStatistics& statistics) override {
        shownStatistics.push_back(statistics);
    }

    // Answers, used in order (nullopt: cancelled). With no answer left, a question is cancelled.
    std::deque<QString> openPaths;
    std::deque<SaveChoice> savePaths;
    std::deque<std::optional<DiffChoice>> diffAnswers;
    std::deque<std::optional<CompareOptions>> bookAnswers;
    std::deque<std::optional<JoinChoice>> joinAnswers;
    std::deque<std::optional<FilterChoice>> filterAnswers;
    std::deque<std::optional<GroupSumChoice>> groupSumAnswers;
    std::deque<std::optional<int>> blankRowAnswers;
    // The condition form: each answer acts on the reply as the page would (or runs the real
    // window); with no answer left the window is closed without a reply.
    std::deque<std::function<void(const QString& pagePath, FormReply& reply)>> formAnswers;

    // What the window asked and showed.
    std::vector<int> openAsked;
    std::vector<FieldList> offeredFields;
    int bookAsked = 0;
    std::vector<FieldList> joinOffered;
    std::vector<FieldList> filterOffered;
    std::vector<FieldList> groupSumOffered;
    int blankRowsAsked = 0;
    QStringList formPages; // the page files shown, in order
    QStringList messages;
    QStringList opened;
    QStringList shownWorkbooks;
    std::vector<NamedStatistics> shownStatistics;
};

// A main window of 1100 x 760 over a fresh work folder, shown, its questions answered by
// ScriptedPrompts.
class WindowTest : public ::testing::Test {
protected:
    void SetUp() override;
    // Another such window over the same folder; `answers` gets its prompts.
    std::unique_ptr<CQuellarDlg> makeWindow(ScriptedPrompts*& answers);
    // Opens `path` as file `which` (1 or 2) through the open command and its scripted answer.
    // Opens `path` as file `which` and waits until its working file is written.
    void open(int which, const QString& path);
    // Opens cli/book1.xml and cli/book2.xml and compares them as workbooks; returns the
    // options the dialog was answered with (the defaults, not in key mode).
    CompareOptions compareTestBooks();
    // Types `text` over the range box of file `which`, then Return when `enter`.
    void typeRange(int which, const QString& text, bool enter = true);

    QTemporaryDir dir;
    std::unique_ptr<CQuellarDlg> window;
    ScriptedPrompts* prompts = nullptr;
};

// The names of the workbook's sheets, in order.
QStringList sheetNames(const Workbook& book);

// What the options dialogs said when they refused to be confirmed without a needed choice
// (the tests record it instead of showing a message box); cleared by the tests that look.
QStringList& refusals();

// "text:fill" for each cell (numbers as 8500, not 8500.000000) of rows x columns (0-based from A1), "." for a
// cell not stored,
// "[RxC]" after a merged area's top-left cell; rows joined by newlines.
QString sheetText(const Workbook& book, const Sheet& sheet, int rows, int columns);

// The fill palette index of a cell, 0 when it has none.
int fillOf(const Workbook& book, const Sheet& sheet, int row, int column);

// What a core writes, run on a fresh result workbook (three empty sheets) without the window:
// the reference the window's commands are compared with.
Workbook coreResult(const std::function<Status(ResultSink&, Progress&)>& run);

// Leaves the lock file at `lockPath` as a window whose process has ended leaves it behind:
// the lock file of a live QLockFile, naming a process that is gone.
bool leaveStaleLock(const QString& lockPath);

// Calls `answer` with the modal dialog of type T as soon as it is shown.
template <typename T> void whenShown(std::function<void(T*)> answer) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, answer] {
        if (T* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            answer(dialog);
        }
    });
    timer->start();
}

// The entries of a drop-down, top to bottom.
QStringList items(const QComboBox* combo);

// Picks the entry `text` of a list box (none when it lists no such entry).
inline void choose(QComboBox* combo, const QString& text) {
    combo->setCurrentIndex(combo->findText(text));
}

// Presses 取消 (or Esc) in the next progress window as soon as its work is about to start, so
// that the command is cancelled before its first cancellation point however small its files;
// or `afterMs` later, when the work is under way.
class CancelNextRun : public QObject {
public:
    explicit CancelNextRun(bool escape = false, int afterMs = 0);
    ~CancelNextRun() override;
    int pressed = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool escape_;
    int afterMs_;
    QSet<QObject*> watching_;
};

// A UTF-16 literal as a QString, for the Chinese texts the tests type and expect.
inline QString u(const char16_t* text) {
    return QString::fromUtf16(text);
}

} // namespace quellar::test
