#include "tests/gui/GuiTestSupport.h"

#include "app/CRunDlg.h"
#include "tests/TestSupport.h"
#include "workbook/TableWriter.h"

#include <gtest/gtest.h>

#include "base/CellOps.h"
#include "workbook/DisplayFormat.h"

#include <QAction>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLockFile>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace quellar::test {

void WindowTest::SetUp() {
    ASSERT_TRUE(dir.isValid());
    window = makeWindow(prompts);
}

std::unique_ptr<CQuellarDlg> WindowTest::makeWindow(ScriptedPrompts*& answers) {
    auto made = std::make_unique<CQuellarDlg>(dir.path());
    auto owned = std::make_unique<ScriptedPrompts>();
    answers = owned.get();
    made->setPrompts(std::move(owned));
    made->resize(1100, 760);
    made->show();
    QApplication::processEvents();
    return made;
}

void WindowTest::open(int which, const QString& path) {
    prompts->openPaths.push_back(path);
    window->action(which == 1 ? CQuellarDlg::Command::OpenFile1 : CQuellarDlg::Command::OpenFile2)->trigger();
    // The working file is written beside the window; the tests look at it right away.
    window->settleWorkingFiles();
}

CompareOptions WindowTest::compareTestBooks() {
    open(1, testDataPath(QStringLiteral("cli/book1.xml")));
    open(2, testDataPath(QStringLiteral("cli/book2.xml")));
    CompareOptions options;
    options.keyMode = false;
    prompts->bookAnswers.push_back(options);
    window->action(CQuellarDlg::Command::CompareBooks)->trigger();
    return options;
}

QStringList sheetNames(const Workbook& book) {
    QStringList names;
    for (const Sheet& sheet : book.sheets)
        names << sheet.name;
    return names;
}

void WindowTest::typeRange(int which, const QString& text, bool enter) {
    QLineEdit* box = window->rangeBox(which);
    box->selectAll();
    QTest::keyClicks(box, text);
    if (enter) QTest::keyClick(box, Qt::Key_Return);
}

QStringList items(const QComboBox* combo) {
    QStringList list;
    for (int i = 0; i < combo->count(); ++i)
        list.append(combo->itemText(i));
    return list;
}

QStringList& refusals() {
    static QStringList said;
    return said;
}

namespace {

// The next scripted answer (an answer or a cancellation); a cancellation when none is left.
template <typename T, typename Answer> std::optional<T> takeFront(std::deque<Answer>& answers) {
    if (answers.empty()) return std::nullopt;
    std::optional<T> value = std::move(answers.front());
    answers.pop_front();
    return value;
}

// The next answer to a question about `fields`, which are noted in `offered`.
template <typename T>
std::optional<T> answerAbout(const FieldList& fields, std::vector<FieldList>& offered,
                             std::deque<std::optional<T>>& answers) {
    offered.push_back(fields);
    return takeFront<T>(answers);
}

} // namespace

std::optional<QString> ScriptedPrompts::openWorkbookPath(QWidget*, int which) {
    openAsked.push_back(which);
    return takeFront<QString>(openPaths);
}

std::optional<SaveChoice> ScriptedPrompts::exportPath(QWidget*) {
    return takeFront<SaveChoice>(savePaths);
}

std::optional<DiffChoice> ScriptedPrompts::diffOptions(QWidget*, const FieldList& fields) {
    return answerAbout(fields, offeredFields, diffAnswers);
}

std::optional<CompareOptions> ScriptedPrompts::bookOptions(QWidget*) {
    ++bookAsked;
    return takeFront<CompareOptions>(bookAnswers);
}

std::optional<JoinChoice> ScriptedPrompts::joinOptions(QWidget*, const FieldList& commonFields) {
    return answerAbout(commonFields, joinOffered, joinAnswers);
}

std::optional<FilterChoice> ScriptedPrompts::filterOptions(QWidget*, const FieldList& offeredFields) {
    return answerAbout(offeredFields, filterOffered, filterAnswers);
}

void ScriptedPrompts::conditionForm(QWidget*, const QString& pagePath, FormReply& reply) {
    formPages.append(pagePath);
    if (formAnswers.empty()) return;
    const auto answer = std::move(formAnswers.front());
    formAnswers.pop_front();
    answer(pagePath, reply);
}

std::optional<GroupSumChoice> ScriptedPrompts::groupSumOptions(QWidget*, const FieldList& fields) {
    return answerAbout(fields, groupSumOffered, groupSumAnswers);
}

std::optional<int> ScriptedPrompts::blankRowCount(QWidget*) {
    ++blankRowsAsked;
    return takeFront<int>(blankRowAnswers);
}

void ScriptedPrompts::message(QWidget*, const QString& text, bool) {
    messages.append(text);
}

int fillOf(const Workbook& book, const Sheet& sheet, int row, int column) {
    const Cell* cell = sheet.cell(row, column);
    if (!cell || cell->style >= book.styles.size()) return 0;
    const Style& style = book.styles[cell->style];
    return style.hasFill ? style.fillPalette : 0;
}

QString sheetText(const Workbook& book, const Sheet& sheet, int rows, int columns) {
    QStringList lines;
    for (int r = 0; r < rows; ++r) {
        QStringList cells;
        for (int c = 0; c < columns; ++c) {
            const Cell* cell = sheet.cell(r, c);
            if (!cell) {
                cells.append(QStringLiteral("."));
                continue;
            }
            QString text =
                (cell->value.type() == CellValue::Type::Number ? DisplayFormat::general(cell->value.number())
                                                               : variantToText(cell->value)) +
                u':' + QString::number(fillOf(book, sheet, r, c));
            for (const CellRange& m : sheet.merges)
                if (m.firstRow == r && m.firstColumn == c)
                    text += QStringLiteral("[%1x%2]").arg(m.rowCount()).arg(m.columnCount());
            cells.append(text);
        }
        lines.append(cells.join(u' '));
    }
    return lines.join(u'\n');
}

QString staff(int n) {
    return testDataPath(QStringLiteral("gui/staff%1.xml").arg(n));
}

Workbook coreResult(const std::function<Status(ResultSink&, Progress&)>& run) {
    Workbook result = Workbook::makeDefault();
    WorkbookSink sink(result, WorkbookSink::Mode::WriteOnly);
    NullProgress progress;
    EXPECT_TRUE(run(sink, progress).isOk());
    return result;
}

bool leaveStaleLock(const QString& lockPath) {
    // A process that has certainly ended: started, waited for and reaped.
    QProcess gone;
    gone.start(QStringLiteral("true"), QStringList());
    if (!gone.waitForStarted()) return false;
    const qint64 pid = gone.processId();
    if (!gone.waitForFinished()) return false;
    // The lock file as Qt writes it (the process id on the first line), with that id.
    QTemporaryDir probeDir;
    QLockFile probe(probeDir.filePath(QStringLiteral("probe.lock")));
    if (!probe.lock()) return false;
    QByteArray contents = bytesOf(probe.fileName());
    probe.unlock();
    const qsizetype lineEnd = contents.indexOf('\n');
    if (lineEnd < 0) return false;
    contents.replace(0, lineEnd, QByteArray::number(pid));
    writeBytes(lockPath, contents);
    return bytesOf(lockPath) == contents;
}

CancelNextRun::CancelNextRun(bool escape, int afterMs)
    : escape_(escape)
    , afterMs_(afterMs) {
    qApp->installEventFilter(this);
}

CancelNextRun::~CancelNextRun() {
    qApp->removeEventFilter(this);
}

bool CancelNextRun::eventFilter(QObject* watched, QEvent* event) {
    auto* progress = qobject_cast<CRunDlg*>(watched);
    if (!progress || event->type() != QEvent::Show || watching_.contains(progress)) return false;
    watching_.insert(progress);
    connect(progress, &CRunDlg::runStarted, this, [this, progress] {
        if (pressed++) return; // only the first run
        auto press = [this, progress] {
            if (escape_) {
                QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
                QApplication::sendEvent(progress, &escape);
            } else {
                progress->cancelButton()->click();
            }
        };
        if (afterMs_ > 0)
            QTimer::singleShot(afterMs_, progress, press);
        else
            press();
    });
    return false;
}

} // namespace quellar::test
