#include "app/UserPrompts.h"

#include "app/DesktopShell.h"
#include "app/DialogMemory.h"
#include "app/RecentFiles.h"
#include "dialogs/CAddRowDlg.h"
#include "dialogs/CDiffDlg.h"
#include "dialogs/GzbDlg.h"
#include "forms/TjSelectDlg.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace quellar {

QString applicationTitle() {
    return QStringLiteral("Quellar");
}

namespace {

// Runs `dialog` set to `last`, what it was confirmed with before (if anything); what
// `confirmed` reads from it once confirmed again is handed to `store` and returned.
template <typename Dialog, typename Value, typename Read, typename Store>
std::optional<Value> runRemembered(Dialog& dialog, const std::optional<Value>& last, Read confirmed,
                                   Store store) {
    if (last) dialog.restore(*last);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const Value value = confirmed();
    store(value);
    return value;
}

// A dialog over `fields` that opens with the choice made last time for the same fields and
// remembers the one confirmed now (`last` and `store`: the DialogMemory entry of the dialog).
template <typename Dialog, auto last, auto store>
auto rememberedChoice(QWidget* parent, const FieldList& fields) {
    Dialog dialog(fields, parent);
    DialogMemory memory;
    return runRemembered(
        dialog, (memory.*last)(fields), [&] { return dialog.choice(); },
        [&](const auto& choice) { (memory.*store)(fields, choice); });
}

} // namespace

std::optional<QString> UserPrompts::openWorkbookPath(QWidget* parent, int which) {
    const QString title = which == 1 ? QStringLiteral("打开文件1") : QStringLiteral("打开文件2");
    const QString filter = QStringLiteral("Excel 工作簿 (*.xlsx *.xlsm *.xls *.xml *.csv);;所有文件 (*)");
    // Where the last workbook was opened from, rather than the working folder.
    const QString folder = RecentFiles::lastFolder();
    const QString path =
        QFileDialog::getOpenFileName(parent, title, folder.isEmpty() ? lastFolder_ : folder, filter);
    if (path.isEmpty()) return std::nullopt;
    lastFolder_ = QFileInfo(path).absolutePath();
    return path;
}

std::optional<SaveChoice> UserPrompts::exportPath(QWidget* parent) {
    const QString xls = QStringLiteral("Excel 2003 ( *.xls )");
    const QString xlsx = QStringLiteral("Excel 2007 ( *.xlsx )");
    QString selected = xls;
    SaveChoice choice;
    const QString folder = lastFolder_.isEmpty() ? RecentFiles::lastFolder() : lastFolder_;
    choice.path = QFileDialog::getSaveFileName(parent, QStringLiteral("导出到Excel"), folder,
                                               xls + QStringLiteral(";;") + xlsx, &selected);
    if (choice.path.isEmpty()) return std::nullopt;
    choice.xlsxFilter = selected == xlsx;
    lastFolder_ = QFileInfo(choice.path).absolutePath();
    return choice;
}

// Each options dialog opens with what it was confirmed with last time for the same fields
// (DialogMemory) and remembers what it is confirmed with now.

std::optional<DiffChoice> UserPrompts::diffOptions(QWidget* parent, const FieldList& fields) {
    CDiffDlg dialog(fields, parent);
    DialogMemory memory;
    if (const auto last = memory.diff(fields)) dialog.restore(last->options, last->keys);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const DiffChoice choice{dialog.options(), dialog.keys()};
    memory.storeDiff(fields, choice);
    return choice;
}

std::optional<CompareOptions> UserPrompts::bookOptions(QWidget* parent) {
    GzbDlg dialog(parent);
    DialogMemory memory;
    return runRemembered(
        dialog, memory.book(), [&] { return dialog.options(); },
        [&](const CompareOptions& options) { memory.storeBook(options); });
}

void UserPrompts::showStatistics(QWidget* parent, const NamedStatistics& statistics) {
    StatisticsDlg dialog(statistics, parent);
    dialog.exec();
}

std::optional<JoinChoice> UserPrompts::joinOptions(QWidget* parent, const FieldList& commonFields) {
    return rememberedChoice<CLinkDlg, &DialogMemory::join, &DialogMemory::storeJoin>(parent, commonFields);
}

std::optional<FilterChoice> UserPrompts::filterOptions(QWidget* parent, const FieldList& offeredFields) {
    return rememberedChoice<SelDlg, &DialogMemory::filter, &DialogMemory::storeFilter>(parent, offeredFields);
}

std::optional<GroupSumChoice> UserPrompts::groupSumOptions(QWidget* parent, const FieldList& fields) {
    return rememberedChoice<CSumDlg, &DialogMemory::groupSum, &DialogMemory::storeGroupSum>(parent, fields);
}

std::optional<PageSumChoice> UserPrompts::pageSumOptions(QWidget* parent, const QStringList& dialogList,
                                                         int proposedRows) {
    PageSumDlg dialog(dialogList, proposedRows, parent);
    DialogMemory memory;
    return runRemembered(
        dialog, memory.pageSum(dialogList), [&] { return dialog.choice(); },
        [&](const PageSumChoice& choice) { memory.storePageSum(dialogList, choice); });
}

std::optional<int> UserPrompts::blankRowCount(QWidget* parent) {
    CAddRowDlg dialog(parent);
    DialogMemory memory;
    return runRemembered(
        dialog, memory.blankRows(), [&] { return dialog.blankCount(); },
        [&](int count) { memory.storeBlankRows(count); });
}

void UserPrompts::conditionForm(QWidget* parent, const QString& pagePath, FormReply& reply) {
    TjSelectDlg dialog(pagePath, reply, parent);
    dialog.exec();
}

void UserPrompts::message(QWidget* parent, const QString& text, bool warning) {
    QMessageBox box(warning ? QMessageBox::Warning : QMessageBox::Information, applicationTitle(), text,
                    QMessageBox::Ok, parent);
    box.exec();
}

DesktopOpening UserPrompts::openDocument(const QString& path) {
    return quellar::openDocument(path);
}

DesktopOpening UserPrompts::showWorkbook(const QString& path) {
    return ShowWorkbook(path);
}

} // namespace quellar
