#pragma once
// The desktop's "open": hand a file to the application the desktop chooses for it (xdg-open
// on Linux). ShowWorkbook opens an exported workbook in the user's spreadsheet program;
// openDocument opens the report and the help page. Both say what came of it: the file was
// taken, no program is there to open it (no browser or spreadsheet program installed), or the
// program the desktop has for it exists but did not start; the window then says which.

#include <QString>

namespace quellar {

struct DesktopOpening {
    enum class Outcome { Opened, NoProgram, FailedToStart };
    Outcome outcome = Outcome::Opened;
    // FailedToStart: the program that did not start, by the name the desktop gives it.
    QString program;

    bool opened() const { return outcome == Outcome::Opened; }
};

DesktopOpening ShowWorkbook(const QString& path);
DesktopOpening openDocument(const QString& path);

// The program the desktop has for files like `path` (xdg-mime's default application), by its
// name ("LibreOffice Calc"), when that program is installed; empty when there is none.
QString registeredProgram(const QString& path);

// What the window says when no program could open `path`: the file, and the kind of
// program that would open it (a web browser for pages, a spreadsheet program for workbooks).
QString cannotOpenMessage(const QString& path);
// What it says when `program` exists but did not start for `path`.
QString failedToStartMessage(const QString& path, const QString& program);

// The help page shipped with the program, or an empty string when it cannot be found.
QString shippedHelpPage();

} // namespace quellar
