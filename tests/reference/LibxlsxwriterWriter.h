#pragma once
// The reference .xlsx writer of the tests: the same workbook through libxlsxwriter.

#include "base/Status.h"
#include "workbook/Workbook.h"

#include <QString>

namespace quellar::test {

Status writeWithLibxlsxwriter(const Workbook& workbook, const QString& path);

} // namespace quellar::test
