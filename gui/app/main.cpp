// Quellar: compare and process the tables of Excel workbooks in one window.

#include "app/CQuellarApp.h"
#include "app/StartOptions.h"

#include <QDir>

#include <cstdio>

int main(int argc, char** argv) {
    // --version and --help answer before Qt starts, so they work without a display.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const quellar::StartOptions options =
        quellar::parseStartOptions(arguments, QDir::currentPath(), qEnvironmentVariable("XDG_DATA_HOME"));
    if (options.action == quellar::StartOptions::Action::ShowVersion) {
        std::printf("%s\n", quellar::startVersionText().toUtf8().constData());
        return 0;
    }
    if (options.action == quellar::StartOptions::Action::ShowHelp) {
        std::fputs(quellar::startUsageText().toUtf8().constData(), stdout);
        return 0;
    }
    quellar::CQuellarApp app(argc, argv);
    return app.run();
}
