#pragma once
// What the quellar command line asks for before the window opens: the version or usage text,
// the working folder, and the workbooks to open as file 1 and file 2.
//
// The window writes its working files (1.xml, 2.xml, 3.xml, report.htm, the form pages) into
// the folder that is current when it opens. Started from a terminal that is the terminal's
// folder. The desktop entry passes --user-workdir, so a start from the menu or a file manager
// works in the per-user folder $XDG_DATA_HOME/quellar (~/.local/share/quellar) instead of
// filling the home folder; --workdir DIR names any other folder. Either is created on first use.
//
// parseStartOptions is pure (no QApplication needed), so --version and --help answer without a
// display; enterWorkFolder changes the current folder and reports a failure naming the folder.

#include "base/Status.h"

#include <QString>
#include <QStringList>

namespace quellar {

struct StartOptions {
    enum class Action { Run, ShowVersion, ShowHelp, Fail };
    Action action = Action::Run;
    QString workFolder; // empty: stay in the current folder
    QStringList files;  // absolute paths, at most two are opened
    QString message;    // what is wrong, for Fail
};

// `arguments` excludes the program name; relative paths are taken against `currentFolder`
// (the folder current at start, before any --workdir takes effect); `dataHome` is
// $XDG_DATA_HOME, or empty when unset.
StartOptions parseStartOptions(const QStringList& arguments, const QString& currentFolder,
                               const QString& dataHome);

// The per-user working folder: dataHome/quellar, or ~/.local/share/quellar when dataHome is
// empty or not absolute (as the XDG base directory rules ask).
QString userWorkFolder(const QString& dataHome);

// Creates `folder` when missing and makes it the current folder.
Status enterWorkFolder(const QString& folder);

QString startUsageText();
QString startVersionText();

} // namespace quellar
