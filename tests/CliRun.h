#pragma once
// Runs quellar-cli in-process for the command-line tests: the arguments after the program name
// go in, the exit status and everything written to stdout and stderr come back.
#include "Cli.h"

#include <QString>
#include <QStringList>

#include <sstream>

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

} // namespace quellar::test
