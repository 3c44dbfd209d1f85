#include "app/CQuellarDlg.h"

#include "app/CRunDlg.h"
#include "app/DesktopShell.h"
#include "app/RangeText.h"
#include "app/ToolIcons.h"
#include "workbook/ExcelDriver.h"
#include "components/SheetPane.h"
#include "workbook/WorkbookFormat.h"
#include "table/BlankRows.h"
#include "base/CellOps.h"
#include "table/Comparison.h"
#include "table/ConditionalQuery.h"
#include "table/Filter.h"
#include "table/GroupSum.h"
#include "table/Join.h"
#include "table/PageSubtotals.h"
#include "workbook/PageBreaks.h"
#include "workbook/RangeReader.h"
#include "table/WorkbookComparison.h"
#include "forms/FormPages.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QEvent>
#include <QEventLoop>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

#include <algorithm>
#include <thread>

namespace quellar {
namespace {

using Command = CQuellarDlg::Command;

// One row of the command table: menu caption, toolbar caption and tip keys, icon, and
// whether the command's operation exists yet (the others stay visible but disabled).
struct CommandInfo {
    Command command;
    const char16_t* menuText;
    const char* captionKey; // toolbar caption, or nullptr when the command has no button
    const char* tipKey;
    IconKind icon;
    bool available;
};

const CommandInfo kCommands[] = {
    {Command::OpenFile1, u"打开文件1", nullptr, nullptr, IconKind::OpenFile, true},
    {Command::OpenFile2, u"打开文件2", nullptr, nullptr, IconKind::OpenFile, true},
    {Command::Export, u"导出到Excel", nullptr, nullptr, IconKind::Export, true},
    {Command::Exit, u"退出", nullptr, nullptr, IconKind::Exit, true},
    {Command::CompareTables, u"两表对比", "tb0", "tbTip0", IconKind::CompareTables, true},
    {Command::CompareBooks, u"两簿比较", "tb1", "tbTip1", IconKind::CompareBooks, true},
    {Command::GroupSum, u"分组汇总", "tb2", "tbTip2", IconKind::GroupSum, true},
    {Command::PageSubtotals, u"分页汇总", "tb3", "tbTip3", IconKind::PageSubtotals, true},
    {Command::Join, u"两表连接", "tb4", "tbTip4", IconKind::Join, true},
    {Command::BlankRows, u"增加空行", "tb5", "tbTip5", IconKind::BlankRows, true},
    {Command::Filter, u"比较筛选", "tb6", "tbTip6", IconKind::Filter, true},
    {Command::Query, u"条件查询", "tb7", "tbTip7", IconKind::Query, true},
    {Command::ConditionalSum, u"条件汇总", "tb8", "tbTip8", IconKind::ConditionalSum, true},
    {Command::Help, u"帮助", "tb11", "tbTip11", IconKind::Help, true},
    {Command::Repair, u"修复", nullptr, nullptr, IconKind::Repair, true},
    {Command::WebSite, u"网站", "tb12", "tbTip12", IconKind::WebSite, true},
    {Command::Report, u"对比报告", nullptr, nullptr, IconKind::Report, true},
    {Command::About, u"关于 Quellar", nullptr, nullptr, IconKind::Application, true},
};

const CommandInfo& infoOf(Command command) {
    for (const CommandInfo& info : kCommands)
        if (info.command == command) return info;
    return kCommands[0];
}

QString key(const char* k) {
    return QString::fromLatin1(k);
}

} // namespace

CQuellarDlg::CQuellarDlg(const QString& startDirectory, QWidget* parent)
    : QMainWindow(parent)
    , prompts_(std::make_unique<UserPrompts>())
    , clock_(systemClock())
    , startDirectory_(QDir(startDirectory.isEmpty() ? QDir::currentPath() : startDirectory).absolutePath()) {
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
}

CQuellarDlg::~CQuellarDlg() = default;

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
    auto handler = [this](Command command) -> std::function<void()> {
        switch (command) {
        case Command::OpenFile1:
            return [this] { openFile1(); };
        case Command::OpenFile2:
            return [this] { openFile2(); };
        case Command::Export:
            return [this] { exportToExcel(); };
        case Command::Exit:
            return [this] { close(); };
        case Command::CompareTables:
            return [this] { compareTables(); };
        case Command::CompareBooks:
            return [this] { compareBooks(); };
        case Command::GroupSum:
            return [this] { groupSummary(); };
        case Command::PageSubtotals:
            return [this] { pageSubtotals(); };
        case Command::Join:
            return [this] { join(); };
        case Command::BlankRows:
            return [this] { addBlankRows(); };
        case Command::Filter:
            return [this] { compareFilter(); };
        case Command::Query:
            return [this] { conditionalQueryCommand(); };
        case Command::ConditionalSum:
            return [this] { conditionalSummaryCommand(); };
        case Command::Help:
            return [this] { showHelp(); };
        case Command::Repair:
            return [this] { repair(); };
        case Command::WebSite:
            return [this] { showWebSite(); };
        case Command::Report:
            return [this] { showReport(); };
        case Command::About:
            return [this] { showAbout(); };
        default:
            return {};
        }
    };
    for (const CommandInfo& info : kCommands) {
        CommandActions& a = actions_[info.command];
        const std::function<void()> run = handler(info.command);
        auto make = [&](const QString& text) {
            auto* act = new QAction(toolIcon(info.icon), text, this);
            act->setEnabled(info.available && run);
            if (run)
                connect(act, &QAction::triggered, this, [this, run, name = QString::fromUtf16(info.menuText)] {
                    // A command never starts while another runs (its progress window pumps events).
                    if (commandRunning_) return;
                    commandRunning_ = true;
                    // The one error boundary of every window command: an allocation failure or
                    // any other exception ends the command with a message box. The progress
                    // window closes as the stack unwinds; the result pane puts back what it
                    // held, and the source panes are only ever read.
                    try {
                        run();
                    } catch (...) {
                        commandRunning_ = false;
                        showMessage(QStringLiteral("“%1”没有完成：%2。\n\n各窗格保持原样。")
                                        .arg(name, currentExceptionStatus().message()));
                    }
                    commandRunning_ = false;
                });
            return act;
        };
        // 网站 exists only on the toolbar; 对比报告's action serves its button and is in no menu.
        if (info.command != Command::WebSite) a.menu = make(QString::fromUtf16(info.menuText));
        if (info.captionKey) {
            a.tool = make(texts_.text(key(info.captionKey)));
            a.tool->setToolTip(texts_.text(key(info.tipKey)));
        }
        if (!info.available) {
            for (QAction* act : {a.menu, a.tool})
                if (act)
                    act->setToolTip(QStringLiteral("%1（尚未提供）").arg(QString::fromUtf16(info.menuText)));
        }
    }
    action(Command::Repair)->setToolTip(QStringLiteral("修复“库没有注册”错误"));
    action(Command::OpenFile1)->setShortcut(QKeySequence(QStringLiteral("Ctrl+1")));
    action(Command::OpenFile2)->setShortcut(QKeySequence(QStringLiteral("Ctrl+2")));
    action(Command::Export)->setShortcut(QKeySequence(QStringLiteral("Ctrl+E")));
    action(Command::Help)->setShortcut(QKeySequence::HelpContents);
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
                    if (commandRunning_) return;
                    commandRunning_ = true;
                    openWorkbook(which, path);
                    commandRunning_ = false;
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
    pane1_->setGeometry(12, panesTop, C - 6, sourceH);
    pane2_->setGeometry(C + 18, panesTop, C - 6, sourceH);
    result_->setGeometry(12, panesTop + sourceH + gap, W - 24, resultH);
    export_->setGeometry(12, buttonsY, 116, buttonH);
    report_->setGeometry(136, buttonsY, 116, buttonH);
    status_->setGeometry(266, buttonsY, std::max(0, W - 278), buttonH);
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
}

void CQuellarDlg::showStatus(const QString& text) {
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
    if (!typedRange(box->text(), b)) return;
    typing_[which] = true;
    pane(which)->select(b);
    typing_[which] = false;
    if (normalise) box->setText(rangeAddress(b));
}

// ---------------------------------------------------------------------------------------------
// Opening files

Status CQuellarDlg::convertInBackground(const QString& source, const QString& target, Workbook& book) {
    return runInBackground(QStringLiteral("正在打开 %1 ...").arg(QFileInfo(source).fileName()),
                           [&] { return ConvertWorkbook(source, target, QStringLiteral("46"), &book); });
}

Status CQuellarDlg::runInBackground(const QString& text, const std::function<Status()>& work) {
    // The work touches no widget, so it runs beside the user-interface thread, which keeps
    // the progress window painted meanwhile.
    CRunDlg busy(this);
    busy.showBusy(text);
    Status status;
    QEventLoop loop;
    std::thread worker([&] {
        status = runGuarded([&] { return work(); });
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    worker.join();
    busy.finish();
    return status;
}

void CQuellarDlg::openFile(int which) {
    const QString path = prompts_->openWorkbookPath(this, which);
    if (path.isEmpty()) return;
    openWorkbook(which, path);
}

bool CQuellarDlg::openWorkbook(int which, const QString& path) {
    const QString target =
        QDir(startDirectory_).filePath(which == 1 ? QStringLiteral("1.xml") : QStringLiteral("2.xml"));
    Workbook book;
    const Status status = convertInBackground(path, target, book);
    if (!status.isOk()) {
        showMessage(
            QStringLiteral("无法打开文件“%1”。\n\n%2").arg(QDir::toNativeSeparators(path), status.message()));
        return false;
    }
    (which == 1 ? file1Path_ : file2Path_) = QFileInfo(path).absoluteFilePath();
    SheetPane* p = pane(which);
    p->setWorkbook(std::move(book));
    // The source stays as it was read: its sheets cannot be edited in the pane.
    p->protectAll();
    p->selectUsedRange();
    showFileName(which);
    const Sheet& sheet = p->activeSheet();
    const RangeBounds used = SheetPane::usedRangeBounds(sheet);
    showStatus(QStringLiteral("已打开文件%1：%2（%3 个工作表，当前工作表“%4”，区域 %5）")
                   .arg(which)
                   .arg(QFileInfo(path).fileName())
                   .arg(p->sheetCount())
                   .arg(sheet.name, rangeAddress(used)));
    return true;
}

// ---------------------------------------------------------------------------------------------
// The operation frame and the comparisons

std::vector<RowTable> CQuellarDlg::readSources(int paneCount, CRunDlg& progress) {
    std::vector<RangeBounds> bounds;
    int64_t rows = 0;
    for (int which = 1; which <= paneCount; ++which) {
        SheetPane* p = pane(which);
        const RangeBounds b = clipSourceRange(p->activeSheet(), p->selection());
        p->select(b);
        if (Status readable = checkReadableRange(b); !readable.isOk()) {
            progress.finish();
            showMessage(readable.withContext(QStringLiteral("文件%1").arg(which == 1 ? u'一' : u'二')).message());
            return {};
        }
        bounds.push_back(b);
        rows += b.lastRow - b.firstRow;
    }
    const int64_t step = progressStep(rows);
    progress.setText(QStringLiteral("init"));
    progress.setRange(rows);
    progress.setStep(step);
    progress.setPosition(0);
    std::vector<RowTable> tables;
    for (int which = 1; which <= paneCount; ++which) {
        SheetPane* p = pane(which);
        tables.push_back(
            readRange(p->workbook(), p->activeSheet(), bounds[size_t(which - 1)], progress, step));
    }
    return tables;
}

void CQuellarDlg::compareTables() {
    CRunDlg progress(this);
    std::vector<RowTable> tables = readSources(2, progress);
    if (tables.empty()) return; // refused with a message
    const FieldList common = commonFieldNames(tables[0], tables[1]);
    progress.finish();

    const std::optional<DiffChoice> choice = prompts_->diffOptions(this, common);
    // Cancelled, or key mode with no key chosen: nothing happens.
    if (!choice || (choice->options.keyMode && choice->keys.isEmpty())) return;

    reportText_.clear();
    CompareCounts counts;
    CompareStatistics statistics;
    const Status status = runTableComparison(1, texts_.text(QStringLiteral("diff1")), *result_,
                                             std::move(tables[0]), std::move(tables[1]), choice->options,
                                             choice->keys, reportText_, progress, &counts, &statistics);
    progress.finish();
    if (!status.isOk()) {
        showMessage(QStringLiteral("两表对比没有完成。\n\n%1").arg(status.message()));
        return;
    }
    result_->setActiveSheet(0);
    result_->select(RangeBounds{});
    showStatus(
        QStringLiteral(
            "对比完成：不同的行 %1，不同的单元格 %2（红色），文件一独有 %3（黄色），文件2独有 %4（绿色）。")
            .arg(counts.differentRows)
            .arg(counts.differentCells)
            .arg(counts.yellowCells)
            .arg(counts.greenCells) +
        keepStatistics({{texts_.text(QStringLiteral("diff1")), std::move(statistics)}}));
    finishComparison(texts_.text(QStringLiteral("diff2")));
}

void CQuellarDlg::compareBooks() {
    const std::optional<CompareOptions> options = prompts_->bookOptions(this);
    if (!options) return;
    CRunDlg progress(this);
    std::vector<BookComparePair> pairs;
    const Status status = compareWorkbooks(pane1_->workbook(), pane2_->workbook(), *options, *result_,
                                           reportText_, progress, &pairs);
    progress.finish();
    if (status.code() == Status::Code::Cancelled) return; // no box ticked
    if (!status.isOk()) {
        showMessage(QStringLiteral("两簿比较没有完成。\n\n%1").arg(status.message()));
        return;
    }
    int compared = 0;
    int64_t differentRows = 0, differentCells = 0;
    int firstSheet = -1;
    NamedStatistics statistics;
    for (const BookComparePair& pair : pairs) {
        if (pair.skipped) continue;
        statistics.emplace_back(pair.name, pair.statistics);
        if (firstSheet < 0) firstSheet = pair.sheetNumber - 1;
        ++compared;
        differentRows += pair.counts.differentRows;
        differentCells += pair.counts.differentCells;
    }
    if (firstSheet >= 0) result_->setActiveSheet(firstSheet);
    const QString rulesAndColumn = keepStatistics(std::move(statistics));
    showStatus(pairs.empty()
                   ? QStringLiteral("两个工作簿没有同名的工作表，没有可比较的内容。")
                   : QStringLiteral("比较完成：比较了 %1 对同名工作表，不同的行共 %2，不同的单元格共 %3。")
                             .arg(compared)
                             .arg(differentRows)
                             .arg(differentCells) +
                         rulesAndColumn);
    finishComparison(texts_.text(QStringLiteral("diff_book")));
}

void CQuellarDlg::finishComparison(const QString& reportTitle) {
    const QString path = QDir(startDirectory_).filePath(QStringLiteral("report.htm"));
    const Status status = writeReport(path, reportTitle, reportText_, QDir::toNativeSeparators(file1Path_),
                                      QDir::toNativeSeparators(file2Path_), clock_);
    if (!status.isOk()) {
        showMessage(QStringLiteral("无法写出对比报告。\n\n%1").arg(status.message()));
        return;
    }
    prompts_->openDocument(path);
}

// ---------------------------------------------------------------------------------------------
// Join, comparison filter, blank rows and group summary

namespace {

// A choice list counts only when at least one of its names is not empty.
bool anyNamed(const QStringList& names) {
    return std::any_of(names.begin(), names.end(), [](const QString& name) { return !name.isEmpty(); });
}

} // namespace

void CQuellarDlg::showResultSheet() {
    result_->setActiveSheet(0);
    result_->select(RangeBounds{});
}

void CQuellarDlg::join() {
    CRunDlg progress(this);
    std::vector<RowTable> tables = readSources(2, progress);
    if (tables.empty()) return; // refused with a message
    // The common fields are found while the progress window is still up.
    const FieldList common = commonFieldNames(tables[0], tables[1]);
    progress.finish();

    const JoinChoice choice = prompts_->joinOptions(this, common);
    if (!anyNamed(choice.conditions)) return; // cancelled or no condition: nothing happens

    JoinInfo info;
    const Status status =
        runJoin(*result_, progress, tables[0], tables[1], choice.conditions, choice.options, &info);
    progress.finish();
    if (!status.isOk()) {
        showMessage(QStringLiteral("两表连接没有完成。\n\n%1").arg(status.message()));
        return;
    }
    showResultSheet();
    showStatus(QStringLiteral("连接完成：配对 %1 行，文件一独有 %2 行（黄色），文件二独有 %3 "
                              "行（绿色），文件二独有的列 %4 个。")
                   .arg(info.pairedRows)
                   .arg(info.unpairedRowsOne)
                   .arg(info.unpairedRowsTwo)
                   .arg(info.extraColumns));
}

void CQuellarDlg::compareFilter() {
    CRunDlg progress(this);
    std::vector<RowTable> tables = readSources(2, progress);
    if (tables.empty()) return; // refused with a message
    progress.finish();
    // The offered fields are built once the progress window is gone.
    const FieldList offered = filterOfferedFields(tables[0], tables[1]);

    const FilterChoice choice = prompts_->filterOptions(this, offered);
    if (!anyNamed(choice.fields)) {
        showMessage(texts_.text(QStringLiteral("selTj")), false);
        return;
    }

    FilterInfo info;
    const Status status =
        runFilter(*result_, progress, tables[0], tables[1], choice.fields, choice.values, &info);
    progress.finish();
    if (!status.isOk()) {
        showMessage(QStringLiteral("比较筛选没有完成。\n\n%1").arg(status.message()));
        return;
    }
    showResultSheet();
    showStatus(QStringLiteral("筛选完成：文件一 %1 行、文件二 %2 行符合条件。")
                   .arg(info.matchesOne)
                   .arg(info.matchesTwo));
    // A condition on a field one table lacks matched none of its rows: say so.
    const QString note = filterMissingFieldsNote(info);
    if (!note.isEmpty()) showMessage(note, false);
}

void CQuellarDlg::addBlankRows() {
    CRunDlg progress(this);
    std::vector<RowTable> tables = readSources(1, progress);
    if (tables.empty()) return; // refused with a message
    progress.finish();

    const int count = prompts_->blankRowCount(this);
    if (count <= 0) return; // cancelled (-1), or no rows to add

    const Status status = runInsertBlankRows(*result_, progress, std::move(tables[0]), count);
    progress.finish();
    if (!status.isOk()) {
        showMessage(QStringLiteral("增加空行没有完成。\n\n%1").arg(status.message()));
        return;
    }
    showResultSheet();
    showStatus(QStringLiteral("已在每一行之后增加 %1 个空行。").arg(count));
}

void CQuellarDlg::groupSummary() {
    CRunDlg progress(this);
    std::vector<RowTable> tables = readSources(1, progress);
    if (tables.empty()) return; // refused with a message
    progress.finish();
    int fieldRow = -1;
    const FieldList fields = findFieldRow(tables[0], fieldRow);

    const GroupSumChoice choice = prompts_->groupSumOptions(this, fields);
    if (!anyNamed(choice.groupFields)) return; // cancelled or no group field

    GroupSumInfo info;
    const Status status =
        runGroupSum(*result_, progress, std::move(tables[0]), choice.groupFields, choice.sumLabels, &info);
    progress.finish();
    if (!status.isOk()) {
        showMessage(QStringLiteral("分组汇总没有完成。\n\n%1").arg(status.message()));
        return;
    }
    showResultSheet();
    QStringList summed;
    for (int column : info.sumColumns)
        summed.append(column < fields.size() ? groupSumLabel(column, fields[column])
                                             : columnLetters(column + 1));
    showStatus(QStringLiteral("汇总完成：按 %1 分组，小计行 %2 个；汇总的列：%3。")
                   .arg(choice.groupFields.join(QStringLiteral("、")))
                   .arg(info.subtotalRows)
                   .arg(summed.isEmpty() ? QStringLiteral("无") : summed.join(QStringLiteral("、"))));
}

// ---------------------------------------------------------------------------------------------
// Page subtotals: worked on the working file of file 1, not on the panes; the result is a
// workbook next to file 1, opened on the desktop.

void CQuellarDlg::pageSubtotals() {
    if (file1Path_.isEmpty()) {
        showMessage(QStringLiteral("请先打开文件1，再做分页汇总。"), false);
        return;
    }
    const int sheetNumber = pane1_->activeSheetIndex() + 1;
    const QString sheetName = pane1_->activeSheet().name;
    const QString workingFile = QDir(startDirectory_).filePath(QStringLiteral("1.xml"));
    // The first page break of the sheet as file 1 prints it; the pane holds file 1 as it
    // was read, so the file need not be read again.
    const int pageBreak = firstPageBreakRow(pane1_->workbook(), sheetNumber);
    PageSheet sheet;
    Status status = runInBackground(QStringLiteral("正在读取工作表“%1” ...").arg(sheetName), [&] {
        Result<PageSheet> read = readPageSheet(workingFile, sheetName);
        if (read.isOk()) sheet = read.take();
        return read.status();
    });
    if (!status.isOk()) {
        showMessage(QStringLiteral("分页汇总没有完成。\n\n%1").arg(status.message()));
        return;
    }
    if (sheet.fieldRow < 0) {
        showMessage(texts_.text(QStringLiteral("page_msg")));
        return;
    }

    const PageSumChoice choice = prompts_->pageSumOptions(this, pageSumDialogList(sheet.fields),
                                                          proposedRowsPerPage(pageBreak, sheet.fieldRow));
    if (choice.pageSumLabels.isEmpty()) return; // cancelled, or no column to sum

    PageSubtotalOptions options;
    options.rowsPerPage = std::clamp(choice.rowsPerPage.toInt(), 1, 99);
    options.labelColumn = std::clamp(choice.subtotalColumn.toInt(), 0, 9);
    options.sumColumns = pageSumColumns(choice.pageSumLabels);
    const QString written = QDir(startDirectory_).filePath(QStringLiteral("3.xml"));
    const QString output = pageSubtotalOutputPath(file1Path_);
    PageSubtotalInfo info;
    status = runInBackground(QStringLiteral("正在写出 %1 ...").arg(QFileInfo(output).fileName()), [&] {
        Status s = writePageSubtotals(sheet, options, written, &info);
        sheet = PageSheet(); // the working file's bytes are not needed any more
        return s.isOk() ? convertPageSubtotals(written, output) : s;
    });
    if (!status.isOk()) {
        showMessage(QStringLiteral("分页汇总没有完成。\n\n%1").arg(status.message()));
        return;
    }
    showStatus(QStringLiteral("分页汇总完成：每页 %1 行，小计行 %2 个，已写出 %3")
                   .arg(options.rowsPerPage)
                   .arg(info.subtotalRows)
                   .arg(QDir::toNativeSeparators(output)));
    prompts_->showWorkbook(output);
}

// ---------------------------------------------------------------------------------------------
// Conditional query and conditional summary

void CQuellarDlg::conditionalQueryCommand() {
    runConditionForm(false);
}

void CQuellarDlg::conditionalSummaryCommand() {
    runConditionForm(true);
}

void CQuellarDlg::runConditionForm(bool summary) {
    CRunDlg progress(this);
    std::vector<RowTable> tables = readSources(1, progress);
    if (tables.empty()) return; // refused with a message
    progress.finish();
    int fieldRow = -1;
    const FieldList fields = findFieldRow(tables[0], fieldRow);
    if (fieldRow < 0) {
        showMessage(texts_.text(QStringLiteral("check")), false);
        return;
    }

    // The page is written beside the other working files and shown from there; a page that
    // cannot be written is reported instead of showing an older one.
    FormPageInfo pageInfo;
    const Result<QString> page = summary ? buildSummaryPage(tables[0], fields, fieldRow, &pageInfo)
                                         : buildQueryPage(tables[0], fields, fieldRow, &pageInfo);
    if (!page.isOk()) {
        showMessage(page.status().message());
        return;
    }
    const QString path = QDir(startDirectory_).filePath(summary ? kSummaryPageFile : kQueryPageFile);
    if (const Status written = writePageFile(path, page.value()); !written.isOk()) {
        showMessage(QStringLiteral("无法写出条件页面“%1”。\n\n%2")
                        .arg(QDir::toNativeSeparators(path), written.message()));
        return;
    }
    // Values that hold "|" cannot be chosen on the page (its script refuses them); say so.
    if (const QString note = formPageNote(pageInfo); !note.isEmpty()) showStatus(note);
    prompts_->conditionForm(this, path, formReply_);

    // What the page handed back is used once: the texts are emptied after every run, and
    // also when the command stops for want of a choice, so a later form closed without its
    // button never runs on an earlier page's conditions.
    const bool chosen = summary ? formReply_.summaryChosen() : formReply_.queryChosen();
    const FormReply reply = formReply_;
    if (summary)
        formReply_.summaryDone();
    else
        formReply_.queryDone();
    if (!chosen) {
        showMessage(texts_.text(summary ? QStringLiteral("sum_msg") : QStringLiteral("tj_msg")), false);
        return;
    }
    const QString& conditions = reply.replyConditions;
    const QString& groups = reply.replyGroups;
    const QString& sums = reply.replySums;

    if (summary) {
        ConditionalSummaryInfo info;
        const Status status =
            runConditionalSummary(*result_, progress, std::move(tables[0]), conditions, groups, sums, &info);
        progress.finish();
        if (!status.isOk()) {
            showMessage(QStringLiteral("条件汇总没有完成。\n\n%1").arg(status.message()));
            return;
        }
        showResultSheet();
        showStatus(QStringLiteral("汇总完成：%1 行符合条件，按 %2 分组，小计行 %3 个。")
                       .arg(info.matchingRows)
                       .arg(groups.split(u'|').join(QStringLiteral("、")))
                       .arg(info.groups.subtotalRows));
        return;
    }
    ConditionalQueryInfo info;
    const Status status = runConditionalQuery(*result_, progress, std::move(tables[0]), conditions, &info);
    progress.finish();
    if (!status.isOk()) {
        showMessage(QStringLiteral("条件查询没有完成。\n\n%1").arg(status.message()));
        return;
    }
    showResultSheet();
    showStatus(
        QStringLiteral("查询完成：%1 个条件，%2 行符合条件。").arg(info.conditions).arg(info.matchingRows));
}

// ---------------------------------------------------------------------------------------------
// Export, report, help, repair

void CQuellarDlg::exportToExcel() {
    const SaveChoice choice = prompts_->exportPath(this);
    if (choice.path.isEmpty()) return;
    const ExportTarget target = exportTarget(choice.path, choice.xlsxFilter);
    const Status status = result_->exportWorkbook(target.path, target.kind);
    if (!status.isOk()) {
        showMessage(QStringLiteral("导出没有完成。\n\n%1").arg(status.message()));
        return;
    }
    showStatus(QStringLiteral("已导出到 %1").arg(QDir::toNativeSeparators(target.path)));
    prompts_->showWorkbook(target.path);
}

void CQuellarDlg::showReport() {
    const QString path = QDir(startDirectory_).filePath(QStringLiteral("report.htm"));
    if (!QFileInfo::exists(path)) {
        showMessage(QStringLiteral("还没有对比报告：先运行“两表对比”或“两簿比较”。"), false);
        return;
    }
    prompts_->openDocument(path);
}

void CQuellarDlg::showHelp() {
    const QString chm = QDir(startDirectory_).filePath(QStringLiteral("help.chm"));
    if (QFileInfo::exists(chm)) {
        prompts_->openDocument(chm);
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
    prompts_->openDocument(page);
}

void CQuellarDlg::repair() {
    // Nothing needs registering here; the command only confirms, as it always did.
    showMessage(texts_.text(QStringLiteral("regsvr32")), false);
}

void CQuellarDlg::showAbout() {
    QMessageBox::about(this, applicationTitle(),
                       QStringLiteral("<h3>Quellar %1</h3><p>对比和处理 Excel 表格的桌面工具。</p>"
                                      "<p>打开两个工作簿，选中区域，再选择“两表对比”或“两簿比较”；"
                                      "结果显示在下方的结果窗格，可以导出为 Excel 工作簿。</p>")
                           .arg(QApplication::applicationVersion()));
}

} // namespace quellar
