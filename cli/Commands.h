#pragma once
// The commands of quellar-cli. Each takes the arguments after its name and returns the
// exit status.

#include "CliContext.h"

namespace quellar::cli {

int runCompare(CliContext& context, const QStringList& arguments);
int runCompareBooks(CliContext& context, const QStringList& arguments);
int runConvert(CliContext& context, const QStringList& arguments);
int runJoinCommand(CliContext& context, const QStringList& arguments);
int runFilterCommand(CliContext& context, const QStringList& arguments);
int runBlankRowsCommand(CliContext& context, const QStringList& arguments);
int runGroupSumCommand(CliContext& context, const QStringList& arguments);
int runQueryCommand(CliContext& context, const QStringList& arguments);
int runSummaryCommand(CliContext& context, const QStringList& arguments);
int runPageSubtotalsCommand(CliContext& context, const QStringList& arguments);

} // namespace quellar::cli
