#pragma once
// The texts of `quellar-cli COMMAND --help`. The option list is built from the options the
// command really parses (CliContext::parse hands them over), so help can never list an option
// the command refuses or miss one it takes; this file only adds each option's description.

#include "CliContext.h"

#include <QString>

#include <vector>

namespace quellar::cli {

// "用法：quellar-cli compare [选项] FILE1 FILE2", the command's summary and one line per option.
QString commandHelpText(const QString& command, const std::vector<OptionSpec>& options);

// The summary line of a command in the command table ("两表对比：FILE1 FILE2"); empty for an
// unknown command. Defined beside the command table.
QString commandSummary(const QString& command);

} // namespace quellar::cli
