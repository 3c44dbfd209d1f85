// The command definitions of quellar-cli (cli/CommandTable): what they promise holds when the
// commands parse, and the manual page and the bash completion shipped in data/ list the
// options they define. After changing an option, run the tests with
// QUELLAR_UPDATE_CLI_DOCS=1 to rewrite the two files from the definitions.

#include "CommandHelp.h"
#include "CommandTable.h"
#include "tests/CliRun.h"

#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace quellar::cli;

namespace {

QString sourceFile(const char* path) {
    return QStringLiteral(QUELLAR_TEST_DATA_DIR "/../../") + QLatin1String(path);
}

// The text of `path` between the lines holding `begin` and `end` (markers excluded); with
// QUELLAR_UPDATE_CLI_DOCS set, first replaces it with `wanted`.
QString generatedPart(const char* path, const QString& begin, const QString& end, const QString& wanted) {
    QFile file(sourceFile(path));
    if (!file.open(QIODevice::ReadOnly)) return QStringLiteral("(cannot read %1)").arg(file.fileName());
    QString text = QString::fromUtf8(file.readAll());
    file.close();
    const qsizetype from = text.indexOf(begin);
    const qsizetype first = text.indexOf(u'\n', from) + 1;
    const qsizetype last = text.indexOf(end, first);
    if (from < 0 || last < 0) return QStringLiteral("(no markers in %1)").arg(file.fileName());
    const qsizetype lineStart = text.lastIndexOf(u'\n', last) + 1;
    if (qEnvironmentVariableIsSet("QUELLAR_UPDATE_CLI_DOCS")) {
        text.replace(first, lineStart - first, wanted);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) file.write(text.toUtf8());
        return wanted;
    }
    return text.mid(first, lineStart - first);
}

// The generated part of `path` (see generatedPart) is `wanted`.
void expectGeneratedPart(const char* path, const QString& begin, const QString& end, const QString& wanted) {
    EXPECT_EQ(generatedPart(path, begin, end, wanted), wanted)
        << path << " differs from the option definitions: run the tests with QUELLAR_UPDATE_CLI_DOCS=1";
}

} // namespace

TEST(CommandTable, EveryCommandIsFoundByItsNameWithDistinctOptions) {
    ASSERT_EQ(commandTable().size(), 10u);
    for (const CommandDef& command : commandTable()) {
        SCOPED_TRACE(command.name);
        EXPECT_EQ(findCommand(QLatin1String(command.name)), &command);
        EXPECT_FALSE(command.fileText().isEmpty());
        QStringList names;
        for (const OptionDef& option : command.allOptions()) {
            names.append(QLatin1String(option.name));
            EXPECT_NE(QString::fromUtf16(option.text), QString());
        }
        names.removeDuplicates();
        EXPECT_EQ(qsizetype(command.allOptions().size()), names.size()) << "an option is defined twice";
    }
    EXPECT_EQ(findCommand(QStringLiteral("compares")), nullptr);
}

// What the definition says about values and repetition is what parsing enforces.
TEST(CommandTable, ParsingFollowsTheDefinitions) {
    for (const CommandDef& command : commandTable()) {
        for (const OptionDef& option : command.allOptions()) {
            const QString name = QStringLiteral("--") + QLatin1String(option.name);
            SCOPED_TRACE((QLatin1String(command.name) + u' ' + name).toStdString());
            if (option.takesValue()) {
                const auto missing = quellar::test::runCli({QLatin1String(command.name), name});
                EXPECT_EQ(missing.status, 2);
                EXPECT_TRUE(missing.err.contains(QStringLiteral("缺少取值"))) << missing.err.toStdString();
                const auto twice = quellar::test::runCli(
                    {QLatin1String(command.name), name + QStringLiteral("=a"), name + QStringLiteral("=b")});
                EXPECT_EQ(twice.err.contains(QStringLiteral("只能给一次")), !option.repeatable)
                    << twice.err.toStdString();
            } else {
                const auto valued =
                    quellar::test::runCli({QLatin1String(command.name), name + QStringLiteral("=1")});
                EXPECT_EQ(valued.status, 2);
                EXPECT_TRUE(valued.err.contains(QStringLiteral("不带取值"))) << valued.err.toStdString();
            }
        }
    }
}

TEST(CommandTable, TheManualPageListsTheDefinedOptions) {
    const QString wanted = manOptionSections();
    expectGeneratedPart("data/man/quellar-cli.1", QStringLiteral(".\\\" options begin"),
                        QStringLiteral(".\\\" options end"), wanted);
}

TEST(CommandTable, TheCompletionKnowsWhichOptionsTakeValues) {
    const QString wanted = completionOptionLists();
    expectGeneratedPart("data/completion/quellar-cli.bash", QStringLiteral("# options begin"),
                        QStringLiteral("# options end"), wanted);
    EXPECT_TRUE(wanted.contains(QStringLiteral("--report")));
    EXPECT_TRUE(wanted.contains(QStringLiteral("--rows-per-page")));
}
