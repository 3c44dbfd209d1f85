#pragma once
// quellar-cli: every table operation of the window, run on workbook files without a display.
//
// runCli takes the arguments after the program name and writes to the given streams, so the
// tests run it in-process and capture what it prints. It returns the exit status: 0 done;
// 2 wrong usage or unusable input (one clear line on stderr, no output file left behind);
// 1 only for compare/compare-books with --exit-code when differences were found.

#include <QStringList>

#include <ostream>

namespace quellar::cli {

int runCli(const QStringList& arguments, std::ostream& out, std::ostream& err, bool errIsTerminal);

// For the program itself (never for in-process callers): once a command has committed its
// files and printed its lines, the process ends at once with the command's exit status
// instead of freeing its tables cell by cell (seconds for a million-row job) only to hand
// the memory back to the system anyway.
void setEndProcessWhenDone(bool end);

} // namespace quellar::cli
