#pragma once
// Runs quellar-cli in-process for the command-line tests: the arguments after the program name
// go in, the exit status and everything written to stdout and stderr come back.
#include "Cli.h"

#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <vector>

namespace quellar::test {

struct CliRun {
    int status = -1;
    QString out;
    QString err;
};

inline CliRun runCli(const QStringList& arguments) {
    std::ostringstream out, err;
    CliRun run;
    run.status = cli::runCli(arguments, out, err, false);
    run.out = QString::fromStdString(out.str());
    run.err = QString::fromStdString(err.str());
    return run;
}

// A command line quellar-cli must refuse, and a text its message must mention.
struct RefusedRun {
    const char* label;
    QStringList arguments;
    QString mustMention;
};

// Each of `runs`, after the words `command`, ends with status 2 and a message on stderr that
// mentions what it must, with nothing on stdout; `more` checks what else each run must leave.
inline void expectRefused(const QStringList& command, const std::vector<RefusedRun>& runs,
                          const std::function<void(const RefusedRun&, const CliRun&)>& more = {}) {
    for (const RefusedRun& r : runs) {
        const CliRun run = runCli(command + r.arguments);
        EXPECT_EQ(run.status, 2) << r.label;
        EXPECT_FALSE(run.err.trimmed().isEmpty()) << r.label;
        EXPECT_TRUE(run.err.contains(r.mustMention)) << r.label << ": " << run.err.toStdString();
        EXPECT_TRUE(run.out.isEmpty()) << r.label;
        if (more) more(r, run);
    }
}

} // namespace quellar::test
