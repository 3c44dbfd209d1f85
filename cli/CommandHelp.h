#pragma once
// The texts made from the command definitions (CommandTable.h): `quellar-cli --help`,
// `quellar-cli COMMAND --help`, and the option sections of the manual page quellar-cli(1).

#include "CommandTable.h"

#include <QString>

namespace quellar::cli {

// "用法：quellar-cli 命令 [选项] 文件..." with the command table and the common options.
QString usageText();

// "用法：quellar-cli compare [选项] FILE1 FILE2", the command's summary and one line per option.
QString commandHelpText(const CommandDef& command);

// The sections 共同选项 and 各命令的选项 of quellar-cli(1), in man(7) markup: what the
// shipped page holds between its "options begin" and "options end" comment lines.
QString manOptionSections();

// The option lists of the bash completion (data/completion/quellar-cli.bash), as shell
// assignments: the options whose value is a page (.htm), and the other options whose value
// is typed; -o takes workbook names and is completed on its own.
QString completionOptionLists();

} // namespace quellar::cli
