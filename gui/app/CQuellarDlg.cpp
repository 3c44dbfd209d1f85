#include "app/CQuellarDlg.h"

#include "app/CRunDlg.h"
#include "app/DesktopShell.h"
#include "app/ToolIcons.h"
#include "app/WorkFolder.h"
#include "base/CellOps.h"
#include "components/ExcelColumns.h"
#include "components/SheetPane.h"
#include "workbook/ExcelDriver.h"
#include "workbook/RangeReader.h"
#include "workbook/RangeText.h"
#include "workbook/WorkbookFormat.h"
#include "workbook/xmlss/XmlSpreadsheetFormat.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QEvent>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

#include <algorithm>

namespace quellar {
namespace {

using Command = CQuellarDlg::Command;

// One row of the command table: the command's menu text (also its name in messages), the
// shorter name some messages use instead, its toolbar caption and tip, its icon and the
// handler that runs it.
struct CommandInfo {
    Command command;
    const char16_t* menuText;
    const char16_t* shortName;  // nullptr: the menu text
    std::optional<Msg> caption; // toolbar caption, or none when the command has no button
    std::optional<Msg> tip;
    IconKind icon;
    void (CQuellarDlg::*run)();
};

constexpr CommandInfo kCommands[] = {
    {Command::OpenFile1, u"打开文件1", nullptr, {}, {}, IconKind::OpenFile, &CQuellarDlg::openFile1},
    {Command::OpenFile2, u"打开文件2", nullptr, {}, {}, IconKind::OpenFile, &CQuellarDlg::openFile2},
    {Command::Export, u"导出到Excel", u"导出", {}, {}, IconKind::Export, &CQuellarDlg::exportToExcel},
    {Command::Exit, u"退出", nullptr, {}, {}, IconKind::Exit, &CQuellarDlg::closeWindow},
    {Command::CompareTables, u"两表对比", nullptr, Msg::ToolCompareTables, Msg::TipCompareTables,
     IconKind::CompareTables, &CQuellarDlg::compareTables},
    {Command::CompareBooks, u"两簿比较", nullptr, Msg::ToolCompareBooks, Msg::TipCompareBooks,
     IconKind::CompareBooks, &CQuellarDlg::compareBooks},
    {Command::GroupSum, u"分组汇总", nullptr, Msg::ToolGroupSum, Msg::TipGroupSum, IconKind::GroupSum,
     &CQuellarDlg::groupSummary},
    {Command::PageSubtotals, u"分页汇总", nullptr, Msg::ToolPageSubtotals, Msg::TipPageSubtotals,
     IconKind::PageSubtotals, &CQuellarDlg::pageSubtotals},
    {Command::Join, u"两表连接", nullptr, Msg::ToolJoin, Msg::TipJoin, IconKind::Join, &CQuellarDlg::join},
    {Command::BlankRows, u"增加空行", nullptr, Msg::ToolBlankRows, Msg::TipBlankRows, IconKind::BlankRows,
     &CQuellarDlg::addBlankRows},
    {Command::Filter, u"比较筛选", nullptr, Msg::ToolFilter, Msg::TipFilter, IconKind::Filter,
     &CQuellarDlg::compareFilter},
    {Command::Query, u"条件查询", nullptr, Msg::ToolQuery, Msg::TipQuery, IconKind::Query,
     &CQuellarDlg::conditionalQueryCommand},
    {Command::ConditionalSum, u"条件汇总", nullptr, Msg::ToolConditionalSum, Msg::TipConditionalSum,
     IconKind::ConditionalSum, &CQuellarDlg::conditionalSummaryCommand},
    {Command::Help, u"帮助", nullptr, Msg::ToolHelp, Msg::TipHelp, IconKind::Help, &CQuellarDlg::showHelp},
    {Command::Repair, u"修复", nullptr, {}, {}, IconKind::Repair, &CQuellarDlg::repair},
    {Command::WebSite, u"网站", nullptr, Msg::ToolWebSite, Msg::TipWebSite, IconKind::WebSite,
     &CQuellarDlg::showWebSite},
    {Command::Report, u"对比报告", nullptr, {}, {}, IconKind::Report, &CQuellarDlg::showReport},
    {Command::Details, u"差异明细", nullptr, {}, {}, IconKind::Report, &CQuellarDlg::showDetails},
    {Command::About, u"关于 Quellar", nullptr, {}, {}, IconKind::Application, &CQuellarDlg::showAbout},
};

// Every command has its row, in the order of the enumeration, with a handler.
constexpr bool everyCommandBound() {
    if (std::size(kCommands) != size_t(CQuellarDlg::kCommandCount)) return false;
    for (size_t i = 0; i < std::size(kCommands); ++i)
        if (kCommands[i].command != Command(i) || kCommands[i].run == nullptr) return false;
    return true;
}
static_assert(everyCommandBound(), "each command needs its row in kCommands, in order, with a handler");

const CommandInfo& infoOf(Command command) {
    return kCommands[size_t(command)];
}

QString menuTextOf(Command command) {
    return QString::fromUtf16(infoOf(command).menuText);
}

} // namespace

CQuellarDlg::CQuellarDlg(const QString& startDirectory, QWidget* parent)
    : QMainWindow(parent)
    , prompts_(std::make_unique<UserPrompts>())
    , clock_(systemClock())
    , startDirectory_(QDir(startDirectory.isEmpty() ? QDir::currentPath() : startDirectory).absolutePath())
    , workFolder_(std::make_unique<WorkFolder>(startDirectory_)) {
    setWindowTitle(QStringLiteral("Quellar"));
    setWindowIcon(toolIcon(IconKind::Application));
    buildActions();
    buildMenu();
    buildToolBar();
    buildControls();
    setMinimumSize(780, 540);
    resize(1120, 760);
    if (QScreen* screen = QApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        if (area.width() < 1160 || area.height() < 800) resize(area.size() * 9 / 10);
        move(area.center() - rect().center());
    }
    buildHabits();
}

CQuellarDlg::~CQuellarDlg() {
    // The working files are written from the panes' rows: the panes stay until they are.
    workFolder_->settle();
}

void CQuellarDlg::setPrompts(std::unique_ptr<UserPrompts> prompts) {
    prompts_ = std::move(prompts);
}

SheetPane* CQuellarDlg::pane(int which) const {
    return which == 1 ? pane1_ : which == 2 ? pane2_ : result_;
}

QLineEdit* CQuellarDlg::rangeBox(int which) const {
    return which == 1 ? range1_ : range2_;
}

QAction* CQuellarDlg::action(Command command) const {
    const auto it = actions_.find(command);
    if (it == actions_.end()) return nullptr;
    return it->second.menu ? it->second.menu : it->second.tool;
}

QAction* CQuellarDlg::toolAction(Command command) const {
    const auto it = actions_.find(command);
    return it == actions_.end() ? nullptr : it->second.tool;
}

QString CQuellarDlg::statusText() const {
    return status_->text();
}

// ---------------------------------------------------------------------------------------------
// Menu, toolbar and controls

void CQuellarDlg::buildActions() {
    for (const CommandInfo& info : kCommands) {
        CommandActions& a = actions_[info.command];
        auto make = [&](const QString& text) {
            auto* act = new QAction(toolIcon(info.icon), text, this);
            connect(act, &QAction::triggered, this, [this, &info] {
                guarded(QString::fromUtf16(info.menuText), [&] { (this->*info.run)(); });
            });
            return act;
        };
        // 网站 exists only on the toolbar; 对比报告's action serves its button and is in no menu.
        if (info.command != Command::WebSite) a.menu = make(QString::fromUtf16(info.menuText));
        if (info.caption) {
            a.tool = make(MessageTable::text(*info.caption));
            a.tool->setToolTip(MessageTable::text(*info.tip));
        }
    }
    action(Command::Repair)->setToolTip(QStringLiteral("修复“库没有注册”错误"));
    action(Command::OpenFile1)->setShortcut(QKeySequence(QStringLiteral("Ctrl+1")));
    action(Command::OpenFile2)->setShortcut(QKeySequence(QStringLiteral("Ctrl+2")));
    action(Command::Export)->setShortcut(QKeySequence(QStringLiteral("Ctrl+E")));
    action(Command::Help)->setShortcut(QKeySequence::HelpContents);
}

void CQuellarDlg::guarded(const QString& name, const std::function<void()>& work) {
    // A command never starts while another runs (its progress window pumps events).
    if (commandRunning_) return;
    commandRunning_ = true;
    // The one error boundary of every window command: an allocation failure or any other
    // exception ends the command with a message box. The progress window closes as the
    // stack unwinds; the result pane puts back what it held, and the source panes are only
    // ever read.
    try {
        work();
    } catch (...) {
        commandRunning_ = false;
        showMessage(QStringLiteral("“%1”没有完成：%2。\n\n各窗格保持原样。")
                        .arg(name, currentExceptionStatus().message()));
    }
    commandRunning_ = false;
}

void CQuellarDlg::reportFailure(Command command, const Status& status) {
    // A command the user cancelled failed at nothing: the status line says so.
    if (status.code() == Status::Code::Cancelled) {
        showStatus(MessageTable::text(Msg::CommandCancelled).arg(menuTextOf(command)));
        return;
    }
    const CommandInfo& info = infoOf(command);
    const QString name = QString::fromUtf16(info.shortName ? info.shortName : info.menuText);
    showMessage(QStringLiteral("%1没有完成。\n\n%2").arg(name, status.message()));
}

void CQuellarDlg::buildMenu() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("文件(&F)"));
    file->addAction(action(Command::OpenFile1));
    file->addAction(action(Command::OpenFile2));
    file->addAction(action(Command::Export));
    file->addSeparator();
    file->addAction(action(Command::Exit));

    QMenu* tools = menuBar()->addMenu(QStringLiteral("工具(&T)"));
    for (Command c : {Command::CompareTables, Command::CompareBooks})
        tools->addAction(action(c));
    tools->addAction(statisticsAction());
    tools->addSeparator();
    for (Command c : {Command::GroupSum, Command::PageSubtotals, Command::Join, Command::BlankRows})
        tools->addAction(action(c));
    tools->addSeparator();
    for (Command c : {Command::Filter, Command::Query, Command::ConditionalSum})
        tools->addAction(action(c));

    QMenu* help = menuBar()->addMenu(QStringLiteral("帮助(&H)"));
    help->setToolTipsVisible(true); // 修复 explains itself while highlighted
    help->addAction(action(Command::Help));
    help->addAction(action(Command::Repair));
    help->addSeparator();
    help->addAction(action(Command::About));
}

void CQuellarDlg::buildToolBar() {
    toolBar_ = new QToolBar(QStringLiteral("工具栏"), this);
    toolBar_->setObjectName(QStringLiteral("toolbar"));
    toolBar_->setMovable(false);
    toolBar_->setFloatable(false);
    toolBar_->setIconSize(QSize(32, 32));
    toolBar_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    toolBar_->setContextMenuPolicy(Qt::PreventContextMenu);
    toolBar_->setStyleSheet(QStringLiteral(
        "QToolBar { border: none; border-bottom: 1px solid #d0d4d8; spacing: 2px; padding: 2px 6px;"
        " background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #fdfdfd, stop:1 #eef0f2); }"
        "QToolButton { min-width: 54px; max-width: 70px; padding: 3px 4px; border-radius: 4px; }"
        "QToolButton:hover { background: #dcebe2; }"
        "QToolButton:pressed { background: #c4dfce; }"));
    for (Command c :
         {Command::CompareTables, Command::CompareBooks, Command::GroupSum, Command::PageSubtotals,
          Command::Join, Command::BlankRows, Command::Filter, Command::Query, Command::ConditionalSum}) {
        toolBar_->addAction(toolAction(c));
        if (c == Command::CompareBooks || c == Command::BlankRows) toolBar_->addSeparator();
    }
    toolBar_->addSeparator();
    toolBar_->addAction(toolAction(Command::Help));
    toolBar_->addAction(toolAction(Command::WebSite));
    addToolBar(Qt::TopToolBarArea, toolBar_);
}

void CQuellarDlg::buildControls() {
    central_ = new QWidget(this);
    central_->setObjectName(QStringLiteral("central"));
    setCentralWidget(central_);
    central_->installEventFilter(this);

    pane1_ = new SheetPane(central_);
    pane2_ = new SheetPane(central_);
    result_ = new SheetPane(central_);
    pane1_->setObjectName(QStringLiteral("pane1"));
    pane2_->setObjectName(QStringLiteral("pane2"));
    result_->setObjectName(QStringLiteral("result"));
    result_->enableDifferenceTools();

    auto makeRangeBox = [this](int which) {
        auto* box = new QLineEdit(central_);
        box->setObjectName(QStringLiteral("range%1").arg(which));
        box->setPlaceholderText(QStringLiteral("A1:D20"));
        box->setToolTip(
            QStringLiteral("文件%1中选中的区域。输入区域（例如 A1:D20）后按回车即选中它。").arg(which));
        connect(box, &QLineEdit::textEdited, this, [this, which] { applyTypedRange(which, false); });
        connect(box, &QLineEdit::returnPressed, this, [this, which] { applyTypedRange(which, true); });
        return box;
    };
    range1_ = makeRangeBox(1);
    range2_ = makeRangeBox(2);

    auto makeButton = [this](const QString& text, Command command) {
        auto* button = new QPushButton(toolIcon(infoOf(command).icon), text, central_);
        button->setIconSize(QSize(16, 16));
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, action(command), &QAction::trigger);
        return button;
    };
    open1_ = makeButton(QStringLiteral("打开文件1"), Command::OpenFile1);
    open2_ = makeButton(QStringLiteral("打开文件2"), Command::OpenFile2);
    export_ = makeButton(QStringLiteral("导出到Excel"), Command::Export);
    report_ = makeButton(QStringLiteral("对比报告"), Command::Report);
    details_ = makeButton(QStringLiteral("差异明细"), Command::Details);
    details_->setObjectName(QStringLiteral("details"));
    open1_->setObjectName(QStringLiteral("open1"));
    open2_->setObjectName(QStringLiteral("open2"));
    export_->setObjectName(QStringLiteral("export"));
    report_->setObjectName(QStringLiteral("report"));

    auto makeLabel = [this] {
        auto* label = new QLabel(central_);
        label->setStyleSheet(QStringLiteral("color: #555;"));
        label->setTextInteractionFlags(Qt::NoTextInteraction);
        return label;
    };
    file1Label_ = makeLabel();
    file2Label_ = makeLabel();
    status_ = makeLabel();
    status_->setObjectName(QStringLiteral("status"));
    showFileName(1);
    showFileName(2);
    showStatus(QStringLiteral("打开两个工作簿，选好区域，再从“工具”菜单或工具栏选择操作。"));

    for (SheetPane* p : {pane1_, pane2_}) {
        p->setFirstSelectionIsUsedRange(true);
        p->view()->viewport()->setAcceptDrops(true);
        p->view()->viewport()->installEventFilter(this);
    }
    connect(pane1_, &SheetPane::selectionChanged, this, [this] { showSelection(1); });
    connect(pane2_, &SheetPane::selectionChanged, this, [this] { showSelection(2); });
    connect(pane1_, &SheetPane::sheetChanged, this, [this] { showSelection(1); });
    connect(pane2_, &SheetPane::sheetChanged, this, [this] { showSelection(2); });
    showSelection(1);
    showSelection(2);
    buildSplitter();
}

bool CQuellarDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == central_ && event->type() == QEvent::Resize) layoutControls();
    // A workbook dropped on a file pane opens as that file.
    for (int which : {1, 2}) {
        if (!pane(which) || watched != pane(which)->view()->viewport()) continue;
        if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
            auto* drag = static_cast<QDropEvent*>(event);
            const QList<QUrl> urls = drag->mimeData()->urls();
            if (!urls.isEmpty() && urls.first().isLocalFile() && !commandRunning_)
                drag->acceptProposedAction();
            else
                drag->ignore();
            return true;
        }
        if (event->type() == QEvent::Drop) {
            auto* drop = static_cast<QDropEvent*>(event);
            const QList<QUrl> urls = drop->mimeData()->urls();
            if (urls.isEmpty() || !urls.first().isLocalFile() || commandRunning_) return true;
            drop->acceptProposedAction();
            const QString path = urls.first().toLocalFile();
            // Opened once the drop has finished, so the file's source is not kept waiting.
            QMetaObject::invokeMethod(
                this,
                [this, which, path] {
                    guarded(menuTextOf(which == 1 ? Command::OpenFile1 : Command::OpenFile2),
                            [&] { openWorkbook(which, path); });
                },
                Qt::QueuedConnection);
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void CQuellarDlg::layoutControls() {
    // The proportions of the original window: two file panes side by side, each half of
    // the width less the margins, and the result pane across the whole width below them.
    const int W = central_->width(), h = central_->height();
    const int C = (W - 24) / 2;
    const int top = 8, rowH = 26;
    range1_->setGeometry(12, top, 120, rowH);
    open1_->setGeometry(154, top, 96, rowH);
    file1Label_->setGeometry(258, top, std::max(0, C + 6 - 258), rowH);
    range2_->setGeometry(C + 18, top, 120, rowH);
    open2_->setGeometry(C + 160, top, 96, rowH);
    file2Label_->setGeometry(C + 264, top, std::max(0, W - 12 - (C + 264)), rowH);

    const int panesTop = top + rowH + 8;
    const int buttonH = 28, buttonsY = h - buttonH - 8;
    const int gap = 10;
    const int available = std::max(60, buttonsY - 8 - panesTop - gap);
    // The file panes are 5 pixels lower than the result pane (P - 5 and P).
    const int sourceH = (available - 5) / 2;
    const int resultH = available - sourceH;
    // The splitter keeps the share of the two sides; it starts with the original heights.
    splitter_->setGeometry(12, panesTop, W - 24, available + gap);
    if (!splitterPlaced_ && available > 60) {
        splitterPlaced_ = true;
        splitter_->setSizes({sourceH, resultH});
    }
    export_->setGeometry(12, buttonsY, 116, buttonH);
    report_->setGeometry(136, buttonsY, 116, buttonH);
    details_->setGeometry(260, buttonsY, 116, buttonH);
    status_->setGeometry(390, buttonsY, std::max(0, W - 402), buttonH);
    showFileName(1);
    showFileName(2);
    showStatus(status_->property("fullText").toString());
}

void CQuellarDlg::showFileName(int which) {
    QLabel* label = which == 1 ? file1Label_ : file2Label_;
    const QString& path = filePath(which);
    const QString text = path.isEmpty() ? QStringLiteral("（未打开文件）") : QFileInfo(path).fileName();
    label->setText(label->fontMetrics().elidedText(text, Qt::ElideMiddle, std::max(20, label->width())));
    label->setToolTip(QDir::toNativeSeparators(path));
    setWindowTitle(titleFor(file1Path_, file2Path_));
}

void CQuellarDlg::showStatus(const QString& text) {
    // A window that did not get the start folder says where its files are, in a line that stays.
    if (const QString note = workFolder_->takeNote(); !note.isEmpty()) showFolderNote(note);
    status_->setText(status_->fontMetrics().elidedText(text, Qt::ElideRight, std::max(40, status_->width())));
    status_->setToolTip(text);
    status_->setProperty("fullText", text);
}

void CQuellarDlg::showMessage(const QString& text, bool warning) {
    prompts_->message(this, text, warning);
}

// ---------------------------------------------------------------------------------------------
// Range boxes

void CQuellarDlg::showSelection(int which) {
    SheetPane* p = pane(which);
    RangeBounds b = p->selection();
    if (b == p->wholeSheet()) {
        // The whole sheet stands for its filled part.
        b = SheetPane::usedRangeBounds(p->activeSheet());
        if (!typing_[which]) {
            typing_[which] = true; // the selection below reports back here; keep the box as it is
            p->select(b);
            typing_[which] = false;
        }
    }
    if (!typing_[which]) rangeBox(which)->setText(rangeAddress(b));
}

void CQuellarDlg::applyTypedRange(int which, bool normalise) {
    QLineEdit* box = rangeBox(which);
    RangeBounds b;
    if (!(normalise ? typedCellOrRange(box->text(), b) : typedRange(box->text(), b))) return;
    typing_[which] = true;
    pane(which)->select(b);
    typing_[which] = false;
    if (normalise) box->setText(rangeAddress(b));
}

// ---------------------------------------------------------------------------------------------
// Opening files

void CQuellarDlg::writeWorkingFile(int which, const QString& name, const QString& source,
                                   std::shared_ptr<const WorkbookInPlace> book) {
    QPointer<CQuellarDlg> window(this);
    workFolder_->writeInBackground(
        name, [book](const QString& target) { return book->writeXmlSpreadsheet(target); },
        // Converting the source again gives the same bytes, as long as the source is unchanged.
        [source](const QString& target) { return ConvertWorkbook(source, target, QStringLiteral("46")); },
        [window, which, name](const Status& status) {
            if (status.isOk()) return;
            QMetaObject::invokeMethod(
                window,
                [window, which, name, status] {
                    if (!window) return;
                    window->showMessage(
                        QStringLiteral(
                            "无法写出工作文件 %1。\n\n%2\n\n文件%3照常显示，但要读这个工作文件的命令"
                            "（分页汇总）要等重新打开文件%3之后才能进行。")
                            .arg(name, status.message())
                            .arg(which));
                },
                Qt::QueuedConnection);
        });
}

void CQuellarDlg::settleWorkingFiles() {
    workFolder_->settle();
    // A failed write's message is on its way to this thread: shown now.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

Status CQuellarDlg::runInBackground(const QString& text, const std::function<Status()>& work) {
    // The work touches no widget, so it runs beside the user-interface thread, which keeps
    // the progress window painted and its 取消 answering meanwhile.
    CRunDlg busy(this);
    busy.showBusy(text);
    const Status status = busy.run([&](Progress&) { return work(); });
    busy.finish();
    return status;
}

void CQuellarDlg::openFile(int which) {
    if (const std::optional<QString> path = prompts_->openWorkbookPath(this, which))
        openWorkbook(which, *path);
}

bool CQuellarDlg::openWorkbook(int which, const QString& path) {
    const QString workingFile = which == 1 ? QStringLiteral("1.xml") : QStringLiteral("2.xml");
    Workbook book;
    RangeBounds used;
    Status status = refuseWritingOverSource(path, workFolder_->filePath(workingFile));
    if (status.isOk())
        status = runInBackground(QStringLiteral("正在打开 %1 ...").arg(QFileInfo(path).fileName()), [&] {
            Status read = readWorkbook(path, book);
            // The pane's workbook goes only once its working file is written (from its rows).
            if (read.isOk()) workFolder_->settle(workingFile);
            if (!read.isOk() || cancellation::requested()) {
                book = Workbook(); // freed here
                return read;
            }
            // The used range, selected at first, takes a walk over every row: done here too.
            if (book.activeSheet < 0 || size_t(book.activeSheet) >= book.sheets.size()) book.activeSheet = 0;
            if (!book.sheets.empty())
                used = SheetPane::usedRangeBounds(book.sheets[size_t(book.activeSheet)]);
            return read;
        });
    if (status.code() == Status::Code::Cancelled) {
        showStatus(MessageTable::text(Msg::CommandCancelled)
                       .arg(menuTextOf(which == 1 ? Command::OpenFile1 : Command::OpenFile2)));
        return false;
    }
    if (!status.isOk()) {
        showMessage(
            QStringLiteral("无法打开文件“%1”。\n\n%2").arg(QDir::toNativeSeparators(path), status.message()));
        return false;
    }
    // The working file is the workbook as read. It is written while the pane already shows the
    // workbook (a million-row sheet makes most of a gigabyte of it), from the very rows the pane
    // shows. Writing it waits for the earlier write of that file, so the pane's earlier
    // workbook goes only once its own working file is written.
    writeWorkingFile(which, workingFile, path, std::make_shared<const WorkbookInPlace>(book));
    // Widths an xlsx gives in characters become pixels of its own default font, as in Excel.
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("xlsx") || suffix == QLatin1String("xlsm"))
        rescaleCharacterWidths(book, defaultDigitWidth(book));
    (which == 1 ? file1Path_ : file2Path_) = QFileInfo(path).absoluteFilePath();
    SheetPane* p = pane(which);
    p->setWorkbook(std::move(book), used);
    // The source stays as it was read: its sheets cannot be edited in the pane.
    p->protectAll();
    rememberOpened(which, path);
    showFileName(which);
    const Sheet& sheet = p->activeSheet();
    showStatus(QStringLiteral("已打开文件%1：%2（%3 个工作表，当前工作表“%4”，区域 %5）")
                   .arg(which)
                   .arg(QFileInfo(path).fileName())
                   .arg(p->sheetCount())
                   .arg(sheet.name, rangeAddress(used)));
    return true;
}

// ---------------------------------------------------------------------------------------------
// The operation frame

std::vector<RangeBounds> CQuellarDlg::sourceRanges(Command command, int paneCount, CRunDlg& progress) {
    std::vector<RangeBounds> bounds;
    for (int which = 1; which <= paneCount; ++which)
        bounds.push_back(pane(which)->selection());
    // Clipping a selection to the filled part walks every row of a large sheet: done beside
    // the user-interface thread.
    progress.setText(Msg::Reading);
    const Status clipped = progress.run([&](Progress&) {
        for (size_t i = 0; i < bounds.size(); ++i)
            bounds[i] = clipSourceRange(pane(int(i) + 1)->activeSheet(), bounds[i]);
        return Status::ok();
    });
    if (!clipped.isOk()) {
        progress.finish();
        reportFailure(command, clipped);
        return {};
    }
    for (int which = 1; which <= paneCount; ++which) {
        const RangeBounds& b = bounds[size_t(which - 1)];
        pane(which)->select(b);
        if (Status readable = checkReadableRange(b); !readable.isOk()) {
            progress.finish();
            showMessage(
                readable.withContext(QStringLiteral("文件%1").arg(which == 1 ? u'一' : u'二')).message());
            return {};
        }
    }
    return bounds;
}

void CQuellarDlg::showResultSheet() {
    result_->setActiveSheet(0);
    result_->select(RangeBounds{});
}

// ---------------------------------------------------------------------------------------------
// Export, report, help, repair

void CQuellarDlg::exportToExcel() {
    const std::optional<SaveChoice> choice = prompts_->exportPath(this);
    if (!choice) return;
    const ExportTarget target = exportTarget(choice->path, choice->xlsxFilter);
    // The pane's workbook is only read meanwhile; a cancel leaves no file (the writer's
    // temporary file goes with it) and an earlier file of that name as it was.
    const Status status =
        runInBackground(QStringLiteral("正在导出 %1 ...").arg(QFileInfo(target.path).fileName()),
                        [&] { return result_->exportWorkbook(target.path, target.kind); });
    if (!status.isOk()) {
        reportFailure(Command::Export, status);
        return;
    }
    showStatus(QStringLiteral("已导出到 %1").arg(QDir::toNativeSeparators(target.path)));
    openOnDesktop(target.path, true);
}

void CQuellarDlg::showReport() {
    const QString name = QStringLiteral("report.htm");
    // This window's own report, restored first when it was changed; one it did not write (left
    // from an earlier run) is shown as it is.
    QString rewritten;
    const Result<QString> path =
        workFolder_->wrote(name) ? workFolder_->verified(name, &rewritten) : workFolder_->filePath(name);
    if (!path.isOk()) {
        showMessage(QStringLiteral("无法打开对比报告。\n\n%1").arg(path.status().message()));
        return;
    }
    if (!QFileInfo::exists(path.value())) {
        showMessage(QStringLiteral("还没有对比报告：先运行“两表对比”或“两簿比较”。"), false);
        return;
    }
    if (!rewritten.isEmpty()) showStatus(rewritten);
    openOnDesktop(path.value(), false);
}

void CQuellarDlg::showDetails() {
    const QString path = workFolder_->filePath(QStringLiteral("report-details.htm"));
    if (!QFileInfo::exists(path)) {
        showMessage(QStringLiteral("还没有差异明细：先运行“两表对比”或“两簿比较”。"), false);
        return;
    }
    openOnDesktop(path, false);
}

void CQuellarDlg::showHelp() {
    const QString chm = QDir(startDirectory_).filePath(QStringLiteral("help.chm"));
    if (QFileInfo::exists(chm)) {
        openOnDesktop(chm, false);
        return;
    }
    showWebSite();
}

void CQuellarDlg::showWebSite() {
    // The program has no web site of its own; its help page says everything there is.
    const QString page = shippedHelpPage();
    if (page.isEmpty()) {
        showMessage(QStringLiteral("找不到帮助页面 help/index.html：它应当和程序放在同一个文件夹里。"));
        return;
    }
    openOnDesktop(page, false);
}

void CQuellarDlg::repair() {
    showMessage(repairReport(), false);
}

void CQuellarDlg::showAbout() {
    QMessageBox::about(this, applicationTitle(),
                       QStringLiteral("<h3>Quellar %1</h3><p>对比和处理 Excel 表格的桌面工具。</p>"
                                      "<p>打开两个工作簿，选中区域，再选择“两表对比”或“两簿比较”；"
                                      "结果显示在下方的结果窗格，可以导出为 Excel 工作簿。</p>")
                           .arg(QApplication::applicationVersion()));
}

} // namespace quellar
