#include "CommandHelp.h"

#include <algorithm>

namespace quellar::cli {
namespace {

// Terminal columns of a text: CJK characters take two.
int displayWidth(const QString& text) {
    int width = 0;
    for (QChar c : text)
        width += c.unicode() >= 0x1100 ? 2 : 1;
    return width;
}

// "  name" padded to the description column, the description and a line end.
QString helpLine(const QString& name, const QString& description) {
    return QStringLiteral("  ") + name + QString(std::max(1, 26 - displayWidth(name)), u' ') + description +
           u'\n';
}

// "-o, --output", "--key".
QString optionNames(const OptionDef& option) {
    QString names = QStringLiteral("--") + QLatin1String(option.name);
    if (option.shortName) names = QStringLiteral("-%1, ").arg(QLatin1Char(option.shortName)) + names;
    return names;
}

QString optionWithValue(const OptionDef& option) {
    QString text = optionNames(option);
    if (option.takesValue()) text += u' ' + QString::fromUtf16(option.value);
    return text;
}

// Text for man(7): dashes and backslashes escaped, and a break point after CJK punctuation,
// where a line of Chinese text may wrap.
QString manText(const QString& text) {
    QString out;
    for (QChar c : text) {
        if (c == u'\\')
            out += QStringLiteral("\\\\");
        else if (c == u'-')
            out += QStringLiteral("\\-");
        else
            out += c;
        if (QStringView(u"，、。；：）").contains(c)) out += QStringLiteral("\\:");
    }
    return out;
}

// One .TP entry: the option in bold, its value in italics, then its description.
QString manEntry(const OptionDef& option, const QString& description) {
    QString entry = QStringLiteral(".TP\n");
    if (option.takesValue())
        entry += QStringLiteral(".BI \"%1\" \" %2\"\n")
                     .arg(manText(optionNames(option)), QString::fromUtf16(option.value));
    else
        entry += QStringLiteral(".B %1\n").arg(manText(optionNames(option)));
    return entry + manText(description) + u'\n';
}

bool isOwnOption(const CommandDef& command, const OptionDef& option) {
    return std::any_of(command.options.begin(), command.options.end(),
                       [&](const OptionDef& own) { return qstrcmp(own.name, option.name) == 0; });
}

} // namespace

QString usageText() {
    QString text = QStringLiteral("用法：quellar-cli 命令 [选项] 文件...\n\n命令：\n");
    for (const CommandDef& c : commandTable())
        text +=
            QStringLiteral("  %1  %2\n").arg(QLatin1String(c.name), -15).arg(QString::fromUtf16(c.summary));
    text += QStringLiteral("\n共同选项：\n");
    // The common options of the commands that read tables from two files.
    const CommandDef& compare = *findCommand(QStringLiteral("compare"));
    for (const OptionDef& option : compare.allOptions())
        if (!isOwnOption(compare, option))
            text += helpLine(optionWithValue(option), QString::fromUtf16(option.text));
    text += u'\n';
    for (const CommandDef& c : commandTable()) {
        if (c.options.empty()) continue;
        QStringList options;
        for (const OptionDef& option : c.options)
            options.append(optionWithValue(option));
        text += QStringLiteral("%1 的选项：%2\n").arg(QLatin1String(c.name), options.join(u'、'));
    }
    text += QStringLiteral("\n每个命令的全部选项：quellar-cli 命令 --help；版本：quellar-cli --version\n"
                           "\n退出状态：0 完成；2 用法或输入错误；1 仅在 --exit-code 且发现差异时。\n");
    return text;
}

QString commandHelpText(const CommandDef& command) {
    QString text = QStringLiteral("用法：quellar-cli %1 [选项] %2\n%3\n\n选项：\n")
                       .arg(QLatin1String(command.name), command.fileText(), command.purposeText());
    for (const OptionDef& option : command.allOptions())
        text += helpLine(optionWithValue(option), QString::fromUtf16(option.text));
    text += helpLine(QStringLiteral("-h, --help"), QStringLiteral("显示本说明"));
    text.chop(1); // printLine ends the last line
    return text;
}

QString manOptionSections() {
    QString text = QStringLiteral(".SH 共同选项\n");
    const CommandDef& compare = *findCommand(QStringLiteral("compare"));
    for (const OptionDef& option : compare.allOptions())
        if (!isOwnOption(compare, option)) text += manEntry(option, QString::fromUtf16(option.text));
    text += QStringLiteral(".TP\n.BR \\-h \", \" \\-\\-help\n列出命令的全部选项及其说明。\\:\n");
    text += QStringLiteral(".SH 各命令的选项\n");
    for (const CommandDef& c : commandTable()) {
        text += QStringLiteral(".SS %1\n").arg(manText(QLatin1String(c.name)));
        QStringList common;
        for (const OptionDef& option : c.allOptions())
            if (!isOwnOption(c, option)) common.append(optionNames(option).section(u',', 0, 0));
        text +=
            manText(QStringLiteral("%1。共同选项：%2。").arg(c.purposeText(), common.join(u'、'))) + u'\n';
        for (const OptionDef& option : c.options)
            text += manEntry(option, QString::fromUtf16(option.text));
        if (c.outputText)
            for (const OptionDef& option : c.allOptions())
                if (option.shortName == 'o') text += manEntry(option, QString::fromUtf16(option.text));
    }
    return text;
}

QString completionOptionLists() {
    QStringList pages, typed;
    for (const CommandDef& c : commandTable())
        for (const OptionDef& option : c.allOptions()) {
            if (!option.takesValue() || option.shortName == 'o') continue;
            QStringList& list =
                QString::fromUtf16(option.value).endsWith(QLatin1String(".htm")) ? pages : typed;
            const QString name = QStringLiteral("--") + QLatin1String(option.name);
            if (!list.contains(name)) list.append(name);
        }
    return QStringLiteral("_quellar_cli_page_options='%1'\n_quellar_cli_typed_options='%2'\n")
        .arg(pages.join(u' '), typed.join(u' '));
}

} // namespace quellar::cli
