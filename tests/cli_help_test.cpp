// quellar-cli --version, --help and each command's --help: every command's help lists the
// options it really takes, each with a description, and help ends the command successfully
// without doing any work.

#include "Cli.h"
#include "QuellarVersion.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <sstream>

namespace {

struct CliOutcome {
    int status = -1;
    QString out;
    QString err;
};

CliOutcome cli(const QStringList& arguments) {
    std::ostringstream out, err;
    CliOutcome run;
    run.status = quellar::cli::runCli(arguments, out, err, false);
    run.out = QString::fromStdString(out.str());
    run.err = QString::fromStdString(err.str());
    return run;
}

QStringList commandNames() {
    QStringList names;
    static const QRegularExpression line(QStringLiteral("^  ([a-z][a-z-]*)  "),
                                         QRegularExpression::MultilineOption);
    for (auto it = line.globalMatch(cli({QStringLiteral("--help")}).out); it.hasNext();)
        names.append(it.next().captured(1));
    return names;
}

// "--name" of every option line of a command's help, mapped to its description.
std::map<QString, QString> helpOptions(const QString& text) {
    std::map<QString, QString> options;
    static const QRegularExpression line(QStringLiteral("^  (?:-[a-z], )?(--[a-z0-9-]+)(?: \\S+)?\\s*(.*)$"),
                                         QRegularExpression::MultilineOption);
    for (auto it = line.globalMatch(text); it.hasNext();) {
        const auto match = it.next();
        options[match.captured(1)] = match.captured(2).trimmed();
    }
    return options;
}

} // namespace

TEST(CliHelp, VersionAndUsage) {
    const CliOutcome version = cli({QStringLiteral("--version")});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, QStringLiteral("quellar-cli " QUELLAR_VERSION "\n"));
    EXPECT_EQ(cli({QStringLiteral("-v")}).out, version.out);

    const CliOutcome usage = cli({QStringLiteral("--help")});
    EXPECT_EQ(usage.status, 0);
    EXPECT_TRUE(usage.out.contains(QStringLiteral("quellar-cli 命令 --help"))) << usage.out.toStdString();
    EXPECT_EQ(cli({}).status, 2); // no command at all is a usage error
}

TEST(CliHelp, EveryCommandListsItsOptionsWithDescriptions) {
    const QStringList names = commandNames();
    ASSERT_GE(names.size(), 10) << "command table not found in --help";
    for (const QString& name : names) {
        const CliOutcome help = cli({name, QStringLiteral("--help")});
        if (help.status == 2 && help.err.contains(QStringLiteral("尚未实现"))) continue; // not built yet
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(help.status, 0) << help.err.toStdString();
        EXPECT_TRUE(help.out.startsWith(QStringLiteral("用法：quellar-cli ") + name + u' '))
            << help.out.toStdString();
        const auto options = helpOptions(help.out);
        EXPECT_TRUE(options.count(QStringLiteral("--help")));
        EXPECT_TRUE(options.count(QStringLiteral("--quiet")));
        for (const auto& [option, description] : options)
            EXPECT_FALSE(description.isEmpty()) << option.toStdString() << " of " << name.toStdString()
                                                << " has no description: add one to cli/CommandHelp.cpp";
        // Each listed option is one the command accepts: with it, parsing goes past the options
        // (the error, if any, is about files or choices, never about an unknown option).
        for (const auto& [option, description] : options) {
            if (option == u"--help") continue;
            const CliOutcome run = cli({name, option, QStringLiteral("x")});
            EXPECT_FALSE(run.err.contains(QStringLiteral("没有选项"))) << run.err.toStdString();
        }
    }
}

TEST(CliHelp, HelpShowsTheCommandsOwnOptionsOnly) {
    const auto compare = helpOptions(cli({QStringLiteral("compare"), QStringLiteral("-h")}).out);
    for (const char* option : {"--key", "--by-position", "--report", "--sheet2", "--range2", "--output"})
        EXPECT_TRUE(compare.count(QLatin1String(option))) << option;
    const auto books = helpOptions(cli({QStringLiteral("compare-books"), QStringLiteral("--help")}).out);
    EXPECT_FALSE(books.count(QStringLiteral("--sheet1"))); // whole workbooks: no sheet or range
    EXPECT_FALSE(books.count(QStringLiteral("--key")));
    const auto convert = helpOptions(cli({QStringLiteral("convert"), QStringLiteral("--help")}).out);
    EXPECT_FALSE(convert.count(QStringLiteral("--output"))); // the target is the second file
    const auto blank = helpOptions(cli({QStringLiteral("blank-rows"), QStringLiteral("--help")}).out);
    EXPECT_TRUE(blank.count(QStringLiteral("--count")));
    EXPECT_FALSE(blank.count(QStringLiteral("--sheet2")));
}

TEST(CliHelp, HelpWinsOverOtherArgumentsButNotAfterDoubleDash) {
    // Wrong options or missing files do not hide the help the user asked for.
    const CliOutcome help =
        cli({QStringLiteral("join"), QStringLiteral("--bogus"), QStringLiteral("--help")});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.err.isEmpty()) << help.err.toStdString();
    EXPECT_TRUE(help.out.contains(QStringLiteral("--on 字段")));
    // After "--" a "--help" is a file name.
    const CliOutcome file = cli({QStringLiteral("blank-rows"), QStringLiteral("--count"), QStringLiteral("1"),
                                 QStringLiteral("--"), QStringLiteral("--help")});
    EXPECT_EQ(file.status, 2);
    EXPECT_TRUE(file.out.isEmpty());
}
