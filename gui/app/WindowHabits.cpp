// The main window's everyday desktop habits, apart from its commands: Ctrl+O and
// Ctrl+Shift+O, the recent files of each pane, the splitter between the file panes and the
// result pane, the window's size and place and the splitter's position kept between runs,
// the result pane's export in its context menu, the desktop's "open" that says when no
// program could open a file or it failed to start, the title naming the open files, a later
// window placed beside the earlier ones and its note about its own working folder.

#include "app/CQuellarDlg.h"

#include "app/DesktopShell.h"
#include "app/RecentFiles.h"
#include "app/WorkFolder.h"
#include "components/SheetPane.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <QStandardPaths>
#include <QStatusBar>
#include <QStyle>

namespace quellar {
namespace {

const QString kGeometryKey = QStringLiteral("window/geometry");
const QString kSplitterKey = QStringLiteral("window/splitter");

} // namespace

void CQuellarDlg::buildSplitter() {
    // The file panes side by side above, the result pane below; the handle between them is
    // the gap the window always had, and dragging it gives either side more room.
    splitter_ = new QSplitter(Qt::Vertical, central_);
    splitter_->setObjectName(QStringLiteral("splitter"));
    splitter_->setChildrenCollapsible(false);
    splitter_->setHandleWidth(10);
    sourcePanes_ = new QWidget(splitter_);
    auto* row = new QHBoxLayout(sourcePanes_);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(12); // each file pane half the width less the margins, as before
    pane1_->setParent(sourcePanes_);
    pane2_->setParent(sourcePanes_);
    row->addWidget(pane1_);
    row->addWidget(pane2_);
    splitter_->addWidget(sourcePanes_);
    result_->setParent(splitter_);
    splitter_->addWidget(result_);
    splitter_->setStretchFactor(0, 1);
    splitter_->setStretchFactor(1, 1);
    pane1_->setMinimumHeight(80);
    pane2_->setMinimumHeight(80);
    result_->setMinimumHeight(80);
}

void CQuellarDlg::buildHabits() {
    action(Command::OpenFile1)->setShortcuts({QKeySequence::Open, QKeySequence(QStringLiteral("Ctrl+1"))});
    action(Command::OpenFile2)
        ->setShortcuts(
            {QKeySequence(QStringLiteral("Ctrl+Shift+O")), QKeySequence(QStringLiteral("Ctrl+2"))});

    // 文件 › 最近的文件1 / 最近的文件2, after the two open commands.
    if (QMenu* file = qobject_cast<QMenu*>(action(Command::OpenFile2)->associatedObjects().value(0))) {
        const QList<QAction*> items = file->actions();
        const qsizetype after = items.indexOf(action(Command::OpenFile2));
        QAction* before = after >= 0 && after + 1 < items.size() ? items[after + 1] : nullptr;
        for (int which : {1, 2}) {
            recent_[which - 1] = new QMenu(QStringLiteral("最近的文件%1").arg(which), file);
            recent_[which - 1]->setObjectName(QStringLiteral("recent%1").arg(which));
            recent_[which - 1]->setToolTipsVisible(true);
            file->insertMenu(before, recent_[which - 1]);
            refreshRecentMenu(which);
        }
    }

    // The result pane's context menu also exports.
    result_->addContextSeparator();
    result_->addContextAction(action(Command::Export));

    QSettings settings;
    restoreGeometry(settings.value(kGeometryKey).toByteArray());
    // Without a kept position the first layout gives the two sides their original heights.
    splitterPlaced_ = splitter_->restoreState(settings.value(kSplitterKey).toByteArray());
    placeBesideOtherWindows();
}

QString CQuellarDlg::titleFor(const QString& file1Path, const QString& file2Path) {
    QStringList names;
    for (const QString& path : {file1Path, file2Path})
        if (!path.isEmpty()) names << QFileInfo(path).fileName();
    if (names.isEmpty()) return QStringLiteral("Quellar");
    return QStringLiteral("Quellar — ") + names.join(QStringLiteral(" ↔ "));
}

void CQuellarDlg::showFolderNote(const QString& note) {
    auto* label = findChild<QLabel*>(QStringLiteral("folderNote"));
    if (!label) {
        label = new QLabel(this);
        label->setObjectName(QStringLiteral("folderNote"));
        label->setStyleSheet(QStringLiteral("color: #555;"));
        // However long the folder's name, the line never widens the window.
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        statusBar()->addPermanentWidget(label, 1);
        statusBar()->setSizeGripEnabled(false);
    }
    label->setText(note);
    label->setToolTip(note);
}

void CQuellarDlg::placeBesideOtherWindows() {
    // Windows started one after another would lie exactly on top of each other (they all
    // come back to the place the last one was closed at): each later one is moved down and to
    // the right by a title bar's height, the Nth window of a folder N - 1 steps, and further
    // while one of this program's windows already sits there.
    const int step = std::max(24, style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this));
    static const QRegularExpression numbered(QStringLiteral("^quellar-([0-9]+)$"));
    int steps = 0;
    if (workFolder_->ownFolder())
        if (const auto match = numbered.match(QFileInfo(workFolder_->path()).fileName()); match.hasMatch())
            steps = std::max(0, match.captured(1).toInt() - 1);
    const QPoint origin = pos();
    const auto taken = [&](const QPoint& place) {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (widget != this && qobject_cast<CQuellarDlg*>(widget) && widget->isVisible() &&
                (widget->pos() - place).manhattanLength() < step / 2)
                return true;
        return false;
    };
    while (steps < 50 && taken(origin + QPoint(steps, steps) * step))
        ++steps;
    QPoint place = origin + QPoint(steps, steps) * step;
    // Back to the top left of the screen rather than off its edge.
    if (const QScreen* screen = QApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        if (place.x() + width() / 2 > area.right() || place.y() + height() / 2 > area.bottom())
            place = area.topLeft() + QPoint(steps % 8, steps % 8) * step;
    }
    move(place);
}

QMenu* CQuellarDlg::recentMenu(int which) const {
    return which == 1 || which == 2 ? recent_[which - 1] : nullptr;
}

void CQuellarDlg::closeEvent(QCloseEvent* event) {
    QSettings settings;
    settings.setValue(kGeometryKey, saveGeometry());
    settings.setValue(kSplitterKey, splitter_->saveState());
    QMainWindow::closeEvent(event);
}

void CQuellarDlg::rememberOpened(int which, const QString& path) {
    RecentFiles(which).add(path);
    refreshRecentMenu(which);
}

void CQuellarDlg::refreshRecentMenu(int which) {
    QMenu* menu = recentMenu(which);
    if (!menu) return;
    menu->clear();
    const QStringList paths = RecentFiles(which).paths();
    int number = 0;
    for (const QString& path : paths) {
        ++number;
        const QString label = QStringLiteral("&%1 %2").arg(number % 10).arg(QFileInfo(path).fileName());
        QAction* item = menu->addAction(label);
        item->setData(path);
        item->setToolTip(QDir::toNativeSeparators(path));
        connect(item, &QAction::triggered, this, [this, which, path] { openRecent(which, path); });
    }
    if (paths.isEmpty()) {
        menu->addAction(QStringLiteral("（没有）"))->setEnabled(false);
        return;
    }
    menu->addSeparator();
    connect(menu->addAction(QStringLiteral("清除列表")), &QAction::triggered, this, [this, which] {
        RecentFiles(which).clear();
        refreshRecentMenu(which);
    });
}

void CQuellarDlg::openRecent(int which, const QString& path) {
    if (commandRunning_) return;
    if (!QFileInfo::exists(path)) {
        RecentFiles(which).remove(path);
        refreshRecentMenu(which);
        showMessage(
            QStringLiteral("找不到文件“%1”：它可能已被移动、改名或删除。已把它从“最近的文件%2”里去掉。")
                .arg(QDir::toNativeSeparators(path))
                .arg(which));
        return;
    }
    commandRunning_ = true;
    openWorkbook(which, path);
    commandRunning_ = false;
}

bool CQuellarDlg::openOnDesktop(const QString& path, bool workbook) {
    const DesktopOpening opening = workbook ? prompts_->showWorkbook(path) : prompts_->openDocument(path);
    if (opening.outcome == DesktopOpening::Outcome::NoProgram) showMessage(cannotOpenMessage(path));
    if (opening.outcome == DesktopOpening::Outcome::FailedToStart)
        showMessage(failedToStartMessage(path, opening.program));
    return opening.opened();
}

QString CQuellarDlg::repairReport() const {
    // Nothing is registered on this system; the command checks what the window relies on
    // and says what it found, so that a missing piece can be put right.
    QStringList found;
    auto line = [&](bool good, const QString& what, const QString& goodText, const QString& badText) {
        found << QStringLiteral("%1 %2：%3")
                     .arg(good ? QStringLiteral("✓") : QStringLiteral("✗"), what, good ? goodText : badText);
        return good;
    };
    bool allGood = true;
    const QFileInfo folder(startDirectory_);
    allGood &= line(folder.isDir() && folder.isWritable(),
                    QStringLiteral("工作文件夹 %1").arg(QDir::toNativeSeparators(startDirectory_)),
                    QStringLiteral("可以写入"), QStringLiteral("不能写入，运算结果和报告写不出来"));
    allGood &= line(!shippedHelpPage().isEmpty(), QStringLiteral("帮助页面"), QStringLiteral("已找到"),
                    QStringLiteral("没有找到 help/index.html"));
    allGood &= line(!QStandardPaths::findExecutable(QStringLiteral("xdg-open")).isEmpty(),
                    QStringLiteral("打开报告和工作簿的 xdg-open"), QStringLiteral("已安装"),
                    QStringLiteral("没有安装（xdg-utils 软件包）"));
    const QStringList families = QFontDatabase::families();
    for (const auto& [family, package] :
         {std::pair{QStringLiteral("Carlito"), QStringLiteral("fonts-crosextra-carlito")},
          {QStringLiteral("Caladea"), QStringLiteral("fonts-crosextra-caladea")},
          {QStringLiteral("Noto Sans CJK SC"), QStringLiteral("fonts-noto-cjk")}})
        allGood &= line(families.contains(family), QStringLiteral("字体 %1").arg(family),
                        QStringLiteral("已安装"), QStringLiteral("没有安装（%1 软件包）").arg(package));
    found.prepend(QStringLiteral("修复检查了窗口需要的文件夹、程序和字体："));
    found << QString()
          << (allGood ? QStringLiteral("一切正常，没有需要修复的地方。")
                      : QStringLiteral("标 ✗ 的项目需要处理；其他功能不受影响。"));
    return found.join(u'\n');
}

} // namespace quellar
