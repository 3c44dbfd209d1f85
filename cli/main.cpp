// quellar-cli: the table operations of Quellar on the command line.

#include "Cli.h"

#include <QCoreApplication>

#include <iostream>
#include <unistd.h>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    const int status = quellar::cli::runCli(arguments, std::cout, std::cerr, isatty(STDERR_FILENO) != 0);
    std::cout.flush();
    return status;
}
