#pragma once
// The commands of quellar-cli. Each takes the arguments after its name and returns the
// exit status.

#include "cli/CliContext.h"

namespace quellar::cli {

int runCompare(CliContext& context, const QStringList& arguments);
int runCompareBooks(CliContext& context, const QStringList& arguments);
int runConvert(CliContext& context, const QStringList& arguments);

} // namespace quellar::cli
