#pragma once
// The desktop's "open": hand a file to the application the desktop chooses for it (xdg-open
// on Linux). ShowWorkbook opens an exported workbook in the user's spreadsheet program;
// openDocument opens the report and the help page. Both say whether a program took the
// file: false when none could (no browser or spreadsheet program installed), so that the
// window can say so instead of doing nothing.

#include <QString>

namespace quellar {

bool ShowWorkbook(const QString& path);
bool openDocument(const QString& path);

// What the window says when no program could open `path`: the file, and the kind of
// program that would open it (a web browser for pages, a spreadsheet program for workbooks).
QString cannotOpenMessage(const QString& path);

// The help page shipped with the program, or an empty string when it cannot be found.
QString shippedHelpPage();

} // namespace quellar
