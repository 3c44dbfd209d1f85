#include "table/compare/ColumnPlan.h"

#include "base/CellOps.h"

#include <QSet>

#include <algorithm>
#include <cmath>

namespace quellar {

namespace {

QString nameAt(const FieldList& names, int column) {
    return column >= 0 && column < names.size() ? names[column] : QString();
}

QString fieldsText(const FieldList& names) {
    return names.isEmpty() ? QStringLiteral("无字段行") : names.join(QStringLiteral("、"));
}

bool named(const QString& field, const QString& name1, const QString& name2) {
    return !field.isEmpty() && (field == name1 || field == name2);
}

// The default of one kind, overridden by the last per-field value naming either column.
std::optional<double> valueFor(std::optional<double> value, const std::vector<FieldValue>& fields,
                               const QString& name1, const QString& name2) {
    for (const FieldValue& v : fields)
        if (named(v.field, name1, name2)) value = v.value;
    return value;
}

} // namespace

Result<ColumnPlan> planColumns(const ColumnPlanInput& input, const CompareRules& rules) {
    const FieldList& names1 = *input.names1;
    const FieldList& names2 = *input.names2;
    for (const auto& [field, subject] : rules.namedFields()) {
        if (indexOfField(names1, field) < 0 && indexOfField(names2, field) < 0)
            return Status::notFound(QStringLiteral("%1字段“%2”不是表格的字段（文件一：%3；文件二：%4）")
                                        .arg(subject, field, fieldsText(names1), fieldsText(names2)));
        if (!input.keys.contains(field)) continue;
        if (subject == ruleSubject(RuleKind::IgnoredColumn, rules.naming))
            return Status::invalidInput(
                QStringLiteral("%1字段“%2”是对比字段：对比字段不能不比较").arg(subject, field));
        return Status::invalidInput(
            QStringLiteral("%1字段“%2”是对比字段：对比字段总是按原样匹配，不能给容差").arg(subject, field));
    }

    const size_t W1 = input.width1, W2 = input.width2;
    std::vector<int> column1To2(W1, -1);
    std::vector<uint8_t> taken2(W2, 0);
    if (input.byName) {
        for (size_t c = 0; c < W1; ++c) {
            const int c2 = c < size_t(names1.size()) ? indexOfField(names2, names1[qsizetype(c)]) : -1;
            column1To2[c] = (c2 >= 0 && size_t(c2) < W2) ? c2 : -1;
        }
    } else {
        for (size_t c = 0; c < std::min(W1, W2); ++c)
            column1To2[c] = int(c);
    }

    const auto ignored = [&](int c1, int c2) {
        for (const QString& field : rules.ignoredColumns)
            if (named(field, c1 >= 0 ? nameAt(names1, c1) : QString(),
                      c2 >= 0 ? nameAt(names2, c2) : QString()))
                return true;
        return false;
    };

    ColumnPlan plan;
    if (!rules.ignoredColumns.isEmpty()) {
        plan.ignored1.resize(W1);
        plan.ignored2.resize(W2);
        for (size_t c = 0; c < W1; ++c)
            plan.ignored1[c] = ignored(int(c), -1);
        for (size_t c2 = 0; c2 < W2; ++c2)
            plan.ignored2[c2] = ignored(-1, int(c2));
    }
    for (size_t c = 0; c < W1; ++c) {
        const int c2 = column1To2[c];
        const bool skip = ignored(int(c), c2);
        plan.columns.push_back({int(c), c2, c2 >= 0 && !skip});
        if (c2 >= 0) taken2[size_t(c2)] = 1;
        if (skip) continue;
        if (c2 < 0) {
            plan.only1.push_back(uint32_t(c));
            continue;
        }
        const QString n1 = nameAt(names1, int(c)), n2 = nameAt(names2, c2);
        ColumnRule rule;
        const bool key =
            std::find(input.keyColumns1.begin(), input.keyColumns1.end(), c) != input.keyColumns1.end();
        if (!key) {
            const std::optional<double> absolute = valueFor(rules.tolerance, rules.fieldTolerances, n1, n2);
            const std::optional<double> relative =
                valueFor(rules.relTolerance, rules.fieldRelTolerances, n1, n2);
            rule.numeric = absolute || relative;
            rule.absolute = absolute.value_or(0);
            rule.relative = relative.value_or(0);
        }
        plan.compared.push_back({uint32_t(c), uint32_t(c2), rule});
    }
    for (size_t c2 = 0; c2 < W2; ++c2) {
        if (taken2[c2]) continue;
        const bool skip = ignored(-1, int(c2));
        plan.columns.push_back({-1, int(c2), false});
        if (!skip) plan.only2.push_back(uint32_t(c2));
    }
    return plan;
}

Status checkNamedColumns(const RowTable& table, int fieldRow, const QString& which) {
    for (size_t r = 0; r < table.size(); ++r) {
        const Row& row = table[r];
        if (row.empty() ||
            std::any_of(row.begin(), row.end(), [](const CellRecord& c) { return c.text.isEmpty(); }))
            continue;
        if (int(r) == fieldRow) return Status::ok();
        QSet<QString> seen;
        for (const CellRecord& cell : row) {
            const QString name = cell.text.toQString();
            if (seen.contains(name))
                return Status::invalidInput(
                    QStringLiteral(
                        "选项 --columns-by-name（按字段名对应列）：%1的表格的字段行重复了字段名“%2”")
                        .arg(which, name));
            seen.insert(name);
        }
        break;
    }
    if (fieldRow < 0)
        return Status::invalidInput(QStringLiteral("选项 "
                                                   "--columns-by-name（按字段名对应列）：%"
                                                   "1的表格没有字段行（没有一行的单元格全部非空且互不相同）")
                                        .arg(which));
    return Status::ok();
}

void gatherStatistics(const RowTable& result, const PairingFacts& facts, const ColumnPlan& plan,
                      const CompareOptions& options, const ColumnPlanInput& names, CompareStatistics& s) {
    s = CompareStatistics();
    s.rules = options.rules;
    s.ignoreCase = options.ignoreCase;
    s.rowsFile1 = int64_t(facts.rows1) - (facts.fieldRow1 >= 0 ? 1 : 0);
    s.rowsFile2 = int64_t(facts.rows2) - (facts.fieldRow2 >= 0 ? 1 : 0);

    const auto columnName = [](const FieldList& list, int c) {
        return c < list.size() ? list[c] : QStringLiteral("第%1列").arg(c + 1);
    };
    std::vector<size_t> statisticsOf(plan.compared.size());
    for (const ColumnPlan::Column& column : plan.columns) {
        ColumnStatistics c;
        c.inFile1 = column.column1 >= 0;
        c.inFile2 = column.column2 >= 0;
        if (c.inFile1) c.file1 = columnName(*names.names1, column.column1);
        if (c.inFile2) c.file2 = columnName(*names.names2, column.column2);
        c.compared = column.compared;
        if (column.compared) {
            for (size_t p = 0; p < plan.compared.size(); ++p)
                if (int(plan.compared[p].column1) == column.column1) statisticsOf[p] = s.columns.size();
        }
        s.columns.push_back(c);
    }

    const size_t side2 = facts.width1 + 1;
    const bool fullWidth = options.rules.ignoreWidth;
    const auto countOneSided = [&](const Row& out) {
        for (size_t c = 0; c < std::min(facts.width1, out.size()); ++c)
            s.cellsOnlyInFile1 += out[c].fillColorIndex == Fill::Yellow;
        for (size_t c = side2; c < std::min(side2 + facts.width2, out.size()); ++c)
            s.cellsOnlyInFile2 += out[c].fillColorIndex == Fill::BrightGreen;
    };
    const auto countRow1 = [&](size_t i, const Row& out) {
        if (int(i) == facts.fieldRow1) return;
        countOneSided(out);
        const uint32_t j = (*facts.partner)[i];
        if (j == kNoPartner || int(j) == facts.fieldRow2) return;
        ++s.paired;
        bool differs = false;
        for (size_t p = 0; p < plan.compared.size(); ++p) {
            const CellRecord& a = out[plan.compared[p].column1];
            if (a.fillColorIndex != Fill::Red) continue;
            const CellRecord& b = out[side2 + plan.compared[p].column2];
            ColumnStatistics& column = s.columns[statisticsOf[p]];
            ++column.differing;
            differs = true;
            double x = 0, y = 0;
            if (cellNumber(a.text.view(), fullWidth, x) && cellNumber(b.text.view(), fullWidth, y)) {
                const double difference = std::fabs(x - y);
                if (!column.hasMaxDifference || difference > column.maxDifference)
                    column.maxDifference = difference;
                column.hasMaxDifference = true;
            }
        }
        s.pairedWithDifferences += differs;
    };
    if (facts.rowsOf1) {
        for (size_t r = 0; r < result.size(); ++r) {
            const uint32_t i = (*facts.rowsOf1)[r];
            if (i != kNoPartner)
                countRow1(i, result[r]);
            else if (int((*facts.rowsOf2)[r]) != facts.fieldRow2)
                countOneSided(result[r]);
        }
    } else {
        for (size_t i = 0; i < facts.rows1; ++i)
            countRow1(i, result[i]);
        size_t at = facts.rows1;
        for (size_t r = 0; r < facts.rows2; ++r) {
            if ((*facts.paired2)[r]) continue;
            const Row& out = result[at++];
            if (int(r) != facts.fieldRow2) countOneSided(out);
        }
    }
    for (const ColumnStatistics& c : s.columns)
        s.cellsDiffering += c.differing;
    s.onlyInFile1 = s.rowsFile1 - s.paired;
    s.onlyInFile2 = s.rowsFile2 - s.paired;
}

} // namespace quellar
