#include "table/ConditionalQuery.h"

#include "base/CellOps.h"
#include "base/MessageTable.h"
#include "table/OperationCells.h"

#include <algorithm>
#include <string>
#include <string_view>

namespace quellar {

namespace {

enum class Comparator { Equal, Greater, GreaterEqual, Less, LessEqual, NotEqual, Unknown };

// The comparator is taken exactly as given, without trimming.
Comparator comparatorOf(QStringView text) {
    if (text == u"=") return Comparator::Equal;
    if (text == u">") return Comparator::Greater;
    if (text == u">=") return Comparator::GreaterEqual;
    if (text == u"<") return Comparator::Less;
    if (text == u"<=") return Comparator::LessEqual;
    if (text == u"!=") return Comparator::NotEqual;
    return Comparator::Unknown;
}

template <typename T> bool compare(Comparator op, const T& cell, const T& value) {
    switch (op) {
    case Comparator::Equal:
        return cell == value;
    case Comparator::Greater:
        return value < cell;
    case Comparator::GreaterEqual:
        return !(cell < value);
    case Comparator::Less:
        return cell < value;
    case Comparator::LessEqual:
        return !(value < cell);
    case Comparator::NotEqual:
        return !(cell == value);
    case Comparator::Unknown:
        break;
    }
    return false;
}

// Blanks as QString::trimmed sees them (tab, line breaks, spaces, the ideographic space).
std::u16string_view trimmedView(std::u16string_view text) {
    size_t begin = 0, end = text.size();
    while (begin < end && QChar::isSpace(char32_t(text[begin])))
        ++begin;
    while (end > begin && QChar::isSpace(char32_t(text[end - 1])))
        --end;
    return text.substr(begin, end - begin);
}

std::u16string_view viewOf(const QString& text) {
    return {reinterpret_cast<const char16_t*>(text.constData()), size_t(text.size())};
}

// A condition ready for testing many cells: the value trimmed and parsed once.
struct PreparedCondition {
    int column = -1;
    Comparator op = Comparator::Unknown;
    std::u16string value;
    bool valueIsNumber = false;
    double number = 0;

    explicit PreparedCondition(const QueryCondition& c)
        : column(c.fieldPosition)
        , op(comparatorOf(c.comparator))
        , value(trimmedView(viewOf(c.value))) {
        valueIsNumber = parseNumber(std::u16string_view(value), number);
    }

    bool test(std::u16string_view cellText) const {
        if (op == Comparator::Unknown) return false;
        const std::u16string_view cell = trimmedView(cellText);
        double cellNumber = 0;
        if (valueIsNumber && parseNumber(cell, cellNumber)) return compare(op, cellNumber, number);
        // std::u16string_view compares char16_t code units as unsigned numbers; a proper
        // prefix is smaller.
        return compare(op, cell, std::u16string_view(value));
    }
};

Status noFieldRow() {
    return Status::invalidInput(MessageTable::text(Msg::NoFieldRow));
}

// What query and summary share: the field row, the conditions and the matching rows.
struct Selection {
    FieldList fields;
    int fieldRow = -1;
    std::vector<QueryCondition> conditions;
    std::vector<size_t> rows;
};

Result<Selection> select(const RowTable& table, const QStringList& tokens) {
    Selection s;
    s.fields = findFieldRow(table, s.fieldRow);
    if (s.fieldRow < 0) return noFieldRow();
    Result<std::vector<QueryCondition>> conditions = buildConditions(tokens, s.fields);
    if (!conditions.isOk()) return conditions.status();
    s.conditions = conditions.take();
    s.rows = filterRows(table, s.fields, s.fieldRow, s.conditions);
    return s;
}

// Row r of `table`, cut (or padded) to `width` cells, the cells tested by a condition trimmed
// as the test saw them.
Row resultRow(const RowTable& table, size_t r, size_t width, const std::vector<QueryCondition>& conditions,
              bool roomForNumber) {
    const Row& source = table[r];
    Row row;
    row.reserve(width + (roomForNumber ? 1 : 0));
    row.assign(source.begin(), source.begin() + std::ptrdiff_t(std::min(width, source.size())));
    row.resize(width);
    for (const QueryCondition& c : conditions) {
        if (c.fieldPosition < 0 || size_t(c.fieldPosition) >= width) continue;
        SharedText& text = row[size_t(c.fieldPosition)].text;
        const std::u16string_view trimmed = trimmedView(text.view());
        if (trimmed.size() != text.size()) text = SharedText(trimmed);
    }
    return row;
}

// The field row, then the matching rows; with row numbers for the query.
RowTable resultTable(const RowTable& table, const Selection& s, bool withRowNumbers) {
    const size_t width = size_t(s.fields.size());
    RowTable result;
    result.reserve(s.rows.size() + 1);
    result.push_back(table[size_t(s.fieldRow)]);
    for (size_t r : s.rows) {
        cancellation::pointEvery(result.size());
        Row row = resultRow(table, r, width, s.conditions, withRowNumbers);
        if (withRowNumbers) row.push_back(cells::rowNumberCell(r));
        result.push_back(std::move(row));
    }
    return result;
}

} // namespace

Result<QStringList> splitTokens(const QString& text, QChar separator) {
    QString s = text.trimmed();
    if (s.isEmpty()) return Status::invalidInput(QStringLiteral("条件文字是空的"));
    if (s.endsWith(separator)) s.chop(1);
    QStringList tokens;
    qsizetype begin = 0;
    const qsizetype n = s.size();
    for (qsizetype i = 0; i < n; ++i) {
        const bool isSeparator = s[i] == separator;
        const bool last = i == n - 1;
        if (!isSeparator && !last) continue;
        // The last position is kept even when it holds the separator (a second trailing one).
        tokens.append(s.mid(begin, (last ? i + 1 : i) - begin));
        begin = i + 1;
    }
    return tokens;
}

Result<std::vector<QueryCondition>> buildConditions(const QStringList& tokens, const FieldList& fields) {
    std::vector<QueryCondition> conditions;
    const qsizetype n = tokens.size() / 4;
    conditions.reserve(size_t(n));
    for (qsizetype c = 0; c < n; ++c) {
        const QString& name = tokens[4 * c];
        QueryCondition condition;
        condition.fieldPosition = int(fields.indexOf(name));
        if (condition.fieldPosition < 0)
            return Status::notFound(QStringLiteral("条件中的字段“%1”不是表中的字段。表中的字段有：%2")
                                        .arg(name, fields.isEmpty() ? QStringLiteral("（无）")
                                                                    : fields.join(QStringLiteral("，"))));
        condition.comparator = tokens[4 * c + 1];
        condition.value = tokens[4 * c + 2];
        condition.logic = tokens[4 * c + 3];
        conditions.push_back(std::move(condition));
    }
    return conditions;
}

bool matchCondition(QStringView cellText, const QueryCondition& condition) {
    return PreparedCondition(condition).test(
        std::u16string_view(reinterpret_cast<const char16_t*>(cellText.data()), size_t(cellText.size())));
}

std::vector<size_t> filterRows(const RowTable& table, const FieldList& fields, int fieldRow,
                               const std::vector<QueryCondition>& conditions) {
    (void)fields; // the conditions carry their positions in it
    std::vector<size_t> rows;
    if (fieldRow < 0) return rows;
    std::vector<PreparedCondition> prepared;
    prepared.reserve(conditions.size());
    for (const QueryCondition& c : conditions) {
        if (c.fieldPosition < 0) return rows; // cannot be evaluated: no row satisfies it
        prepared.emplace_back(c);
    }
    for (size_t r = size_t(fieldRow) + 1; r < table.size(); ++r) {
        cancellation::pointEvery(r);
        bool match = true;
        for (const PreparedCondition& c : prepared) {
            if (!c.test(cells::textAt(table[r], c.column))) {
                match = false;
                break;
            }
        }
        if (match) rows.push_back(r);
    }
    return rows;
}

namespace {

// The rows the condition text selects, as the query lists them (with their row numbers) or as
// the summary hands them on (cut to the fields, no row numbers).
Result<RowTable> selectedRows(const RowTable& table, const QString& conditionText, bool withRowNumbers,
                              ConditionalQueryInfo* info) {
    Result<QStringList> tokens = splitTokens(conditionText);
    if (!tokens.isOk()) return tokens.status();
    Result<Selection> selection = select(table, tokens.value());
    if (!selection.isOk()) return selection.status();
    const Selection& s = selection.value();
    if (info) {
        info->conditions = int64_t(s.conditions.size());
        info->matchingRows = int64_t(s.rows.size());
    }
    return resultTable(table, s, withRowNumbers);
}

} // namespace

Result<RowTable> conditionalQuery(const RowTable& table, const QString& conditionText,
                                  ConditionalQueryInfo* info) {
    return selectedRows(table, conditionText, true, info);
}

Status runConditionalQuery(ResultSink& sink, Progress& progress, RowTable table, const QString& conditionText,
                           ConditionalQueryInfo* info) {
    progress.setText(Msg::Running);
    Result<RowTable> result = conditionalQuery(table, conditionText, info);
    if (!result.isOk()) return result.status();
    return writeResultPhase(sink, progress, 1, Msg::FilterSheet, std::move(result.value()));
}

Result<RowTable> conditionFilteredTable(const RowTable& table, const QString& conditionText,
                                        ConditionalQueryInfo* info) {
    return selectedRows(table, conditionText, false, info);
}

namespace {

// The summary's inputs, checked before anything is computed.
struct SummaryInput {
    QStringList conditions, groups, sums;
};

Result<SummaryInput> summaryInput(const RowTable& table, const QString& conditionText,
                                  const QString& groupText, const QString& sumText) {
    SummaryInput in;
    Result<QStringList> split = splitTokens(conditionText);
    if (!split.isOk()) return split.status();
    in.conditions = split.take();
    split = splitTokens(groupText);
    if (!split.isOk()) return Status::invalidInput(QStringLiteral("没有选择分组字段"));
    in.groups = split.take();
    split = splitTokens(sumText);
    if (!split.isOk()) return Status::invalidInput(MessageTable::text(Msg::NoSummaryChoice));
    in.sums = split.take();

    int fieldRow = -1;
    const FieldList fields = findFieldRow(table, fieldRow);
    if (fieldRow < 0) return noFieldRow();
    // The group-summary core passes over empty names; here an empty token is a choice that
    // names no field, and the whole summary is refused.
    for (const QString& group : in.groups)
        if (fields.indexOf(group) < 0)
            return Status::notFound(QStringLiteral("分组字段“%1”不是表中的字段。表中的字段有：%2")
                                        .arg(group, fields.join(QStringLiteral("，"))));
    return in;
}

} // namespace

namespace {

// The summary's checked inputs and the table it groups; `info` gets the query's counts.
struct SummarySource {
    SummaryInput in;
    RowTable filtered;
};

Result<SummarySource> summarySource(const RowTable& table, const QString& conditionText,
                                    const QString& groupText, const QString& sumText,
                                    ConditionalSummaryInfo* info) {
    Result<SummaryInput> in = summaryInput(table, conditionText, groupText, sumText);
    if (!in.isOk()) return in.status();
    ConditionalQueryInfo found;
    Result<RowTable> filtered = conditionFilteredTable(table, conditionText, &found);
    if (!filtered.isOk()) return filtered.status();
    if (info) {
        info->conditions = found.conditions;
        info->matchingRows = found.matchingRows;
    }
    return SummarySource{in.take(), filtered.take()};
}

} // namespace

Result<RowTable> conditionalSummary(const RowTable& table, const QString& conditionText,
                                    const QString& groupText, const QString& sumText,
                                    ConditionalSummaryInfo* info) {
    Result<SummarySource> source = summarySource(table, conditionText, groupText, sumText, info);
    if (!source.isOk()) return source.status();
    SummarySource& s = source.value();
    return groupSum(std::move(s.filtered), s.in.groups, s.in.sums, info ? &info->groups : nullptr);
}

Status runConditionalSummary(ResultSink& sink, Progress& progress, RowTable table,
                             const QString& conditionText, const QString& groupText, const QString& sumText,
                             ConditionalSummaryInfo* info) {
    progress.setText(Msg::Running);
    Result<SummarySource> source = summarySource(table, conditionText, groupText, sumText, info);
    if (!source.isOk()) return source.status();
    SummarySource& s = source.value();
    return runGroupSum(sink, progress, std::move(s.filtered), s.in.groups, s.in.sums,
                       info ? &info->groups : nullptr);
}

} // namespace quellar
