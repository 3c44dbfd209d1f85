#pragma once
// UserPrompts: every question the main window asks the user and every document it hands
// to the desktop, behind one seam. The program uses the real dialogs (file dialogs, the
// options dialogs, message boxes, the desktop's "open"); the tests put in answers of their
// own and record what would have been shown, so the commands run end to end offscreen.

#include "app/DesktopShell.h"
#include "base/RowTable.h"
#include "dialogs/CLinkDlg.h"
#include "dialogs/CSumDlg.h"
#include "dialogs/PageSumDlg.h"
#include "dialogs/SelDlg.h"
#include "dialogs/StatisticsDlg.h"
#include "forms/FormReply.h"
#include "table/compare/Comparison.h"

#include <QString>
#include <QStringList>

#include <optional>

class QWidget;

namespace quellar {

// What CDiffDlg hands back when confirmed.
struct DiffChoice {
    CompareOptions options;
    QStringList keys;
};

// The path chosen in the save dialog and whether its .xlsx filter was the chosen one.
struct SaveChoice {
    QString path;
    bool xlsxFilter = false;
};

class UserPrompts {
public:
    virtual ~UserPrompts() = default;

    // Each question hands back nullopt when the user cancelled it.

    // The workbook to open as file `which` (1 or 2).
    virtual std::optional<QString> openWorkbookPath(QWidget* parent, int which);
    // Where to export the result.
    virtual std::optional<SaveChoice> exportPath(QWidget* parent);
    // CDiffDlg with the offered field names.
    virtual std::optional<DiffChoice> diffOptions(QWidget* parent, const FieldList& fields);
    // GzbDlg.
    virtual std::optional<CompareOptions> bookOptions(QWidget* parent);
    // The options dialogs of join (CLinkDlg, with the common fields), comparison filter
    // (SelDlg, with the offered fields) and group summary (CSumDlg, with the table's
    // fields).
    virtual std::optional<JoinChoice> joinOptions(QWidget* parent, const FieldList& commonFields);
    virtual std::optional<FilterChoice> filterOptions(QWidget* parent, const FieldList& offeredFields);
    virtual std::optional<GroupSumChoice> groupSumOptions(QWidget* parent, const FieldList& fields);
    // PageSumDlg with the dialog list (field count, then names) and the proposed rows per
    // page.
    virtual std::optional<PageSumChoice> pageSumOptions(QWidget* parent, const QStringList& dialogList,
                                                        int proposedRows);
    // CAddRowDlg: the typed count of blank rows (0 or more).
    virtual std::optional<int> blankRowCount(QWidget* parent);
    // The condition form page at pagePath in TjSelectDlg; its button stores the user's
    // choices in `reply`, closing the window otherwise leaves `reply` as it was.
    virtual void conditionForm(QWidget* parent, const QString& pagePath, FormReply& reply);
    // StatisticsDlg (差异统计) with the statistics of the last comparison.
    virtual void showStatistics(QWidget* parent, const NamedStatistics& statistics);
    // A message box with an OK button titled with the program's name.
    virtual void message(QWidget* parent, const QString& text, bool warning);
    // The desktop's "open" for the report, help pages and exported workbooks: whether a
    // program took the file, and when not, whether there was none or it failed to start (the
    // window then says so).
    virtual DesktopOpening openDocument(const QString& path);
    virtual DesktopOpening showWorkbook(const QString& path);

protected:
    QString lastFolder_;
};

// The title of every message box.
QString applicationTitle();

} // namespace quellar
