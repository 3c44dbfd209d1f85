#pragma once
// What the shell's "open" did for the original program: hand a file to the desktop's
// default application (xdg-open on Linux). ShowWorkbook opens an exported workbook in the
// user's spreadsheet program; openDocument opens the report and the help page.
//
// The outcome is reported as a bool only; the callers do not depend on it.

#include <QString>

namespace quellar {

bool ShowWorkbook(const QString& path);
bool openDocument(const QString& path);

// The help page shipped with the program, or an empty string when it cannot be found.
QString shippedHelpPage();

} // namespace quellar
