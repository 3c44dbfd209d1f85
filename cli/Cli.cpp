#include "Cli.h"

#include "CliContext.h"
#include "CommandHelp.h"
#include "CommandTable.h"
#include "QuellarVersion.h"

namespace quellar::cli {

int runCli(const QStringList& arguments, std::ostream& out, std::ostream& err, bool errIsTerminal) {
    if (arguments.isEmpty() || arguments[0] == u"--help" || arguments[0] == u"-h" ||
        arguments[0] == u"help") {
        printLine(arguments.isEmpty() ? err : out, usageText());
        return arguments.isEmpty() ? 2 : 0;
    }
    if (arguments[0] == u"--version" || arguments[0] == u"-v") {
        printLine(out, QStringLiteral("quellar-cli " QUELLAR_VERSION));
        return 0;
    }
    const QString name = arguments[0];
    const CommandDef* command = findCommand(name);
    if (!command) {
        printLine(err, QStringLiteral("quellar-cli：未知的命令 “%1”。\n").arg(name) + usageText());
        return 2;
    }
    CliContext context(out, err, errIsTerminal);
    context.setCommand(*command);
    // The one error boundary of every command: an allocation failure or any other exception
    // ends the command with one line and status 2. Output files are written through a
    // temporary file and renamed only when complete, so none is left half written.
    try {
        return command->run(context, arguments.mid(1));
    } catch (...) {
        return context.fail(currentExceptionStatus().message() + QStringLiteral("，命令没有完成"));
    }
}

} // namespace quellar::cli
