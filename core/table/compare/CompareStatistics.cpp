#include "table/compare/CompareStatistics.h"

#include "base/TextIO.h"

#include <initializer_list>
#include <utility>

namespace quellar {

namespace {

void appendInteger(std::string& out, int64_t value) {
    out += std::to_string(value);
}

void appendName(std::string& out, bool present, const QString& name) {
    if (!present) {
        out += "null";
        return;
    }
    out += '"';
    appendUtf8(out, name, TextEscape::Json);
    out += '"';
}

// The members of the object without its braces, so the workbook form can put "name" first.
void appendMembers(std::string& out, const CompareStatistics& s) {
    // {"name": N, ...} of integer members.
    const auto counts = [&](std::initializer_list<std::pair<const char*, int64_t>> members) {
        out += '{';
        const char* separator = "";
        for (const auto& [name, value] : members) {
            out += separator;
            out += '"';
            out += name;
            out += "\": ";
            appendInteger(out, value);
            separator = ", ";
        }
        out += '}';
    };
    out += "\"rows\": ";
    counts({{"file1", s.rowsFile1},
            {"file2", s.rowsFile2},
            {"paired", s.paired},
            {"only_in_file1", s.onlyInFile1},
            {"only_in_file2", s.onlyInFile2},
            {"paired_with_differences", s.pairedWithDifferences}});
    out += ",\n \"cells\": ";
    counts({{"differing", s.cellsDiffering},
            {"only_in_file1", s.cellsOnlyInFile1},
            {"only_in_file2", s.cellsOnlyInFile2}});
    out += ",\n \"columns\": [";
    for (size_t i = 0; i < s.columns.size(); ++i) {
        const ColumnStatistics& c = s.columns[i];
        out += i ? ",\n  {\"file1\": " : "\n  {\"file1\": ";
        appendName(out, c.inFile1, c.file1);
        out += ", \"file2\": ";
        appendName(out, c.inFile2, c.file2);
        out += c.compared ? ", \"compared\": true" : ", \"compared\": false";
        out += ", \"differing\": ";
        appendInteger(out, c.differing);
        out += ", \"max_difference\": ";
        if (c.hasMaxDifference)
            appendJsonNumber(out, c.maxDifference);
        else
            out += "null";
        out += '}';
    }
    out += "],\n \"rules\": ";
    appendRulesJson(out, s.rules, s.ignoreCase);
}

Status writeText(const QString& path, const std::string& text) {
    OutputFile out(path);
    if (Status opened = out.open(); !opened.isOk()) return opened;
    out.append(text);
    return out.commit();
}

} // namespace

const ColumnStatistics* CompareStatistics::mostDifferent() const {
    const ColumnStatistics* most = nullptr;
    for (const ColumnStatistics& c : columns)
        if (c.differing > 0 && (!most || c.differing > most->differing)) most = &c;
    return most;
}

QString statisticsStatusText(const std::vector<std::pair<QString, const CompareStatistics*>>& sheets) {
    if (sheets.empty()) return QString();
    QString text;
    const QString rules = rulesSummaryText(sheets[0].second->rules, sheets[0].second->ignoreCase);
    if (!rules.isEmpty()) text += QStringLiteral("规则：%1。").arg(rules);
    const ColumnStatistics* most = nullptr;
    QString sheet;
    for (const auto& [name, statistics] : sheets) {
        const ColumnStatistics* column = statistics->mostDifferent();
        if (column && (!most || column->differing > most->differing)) {
            most = column;
            sheet = name;
        }
    }
    if (most) {
        const QString column = most->inFile1 ? most->file1 : most->file2;
        text += sheets.size() > 1
                    ? QStringLiteral("差异最多的列：工作表“%1”的“%2”（%3 格）。")
                          .arg(sheet, column)
                          .arg(most->differing)
                    : QStringLiteral("差异最多的列：%1（%2 格）。").arg(column).arg(most->differing);
    }
    return text;
}

std::string statisticsJson(const CompareStatistics& statistics) {
    std::string out = "{";
    appendMembers(out, statistics);
    out += '}';
    return out;
}

Status writeStatistics(const QString& path, const CompareStatistics& statistics) {
    return writeText(path, statisticsJson(statistics) + '\n');
}

Status writeBookStatistics(const QString& path,
                           const std::vector<std::pair<QString, const CompareStatistics*>>& sheets) {
    std::string out = "{\"sheets\": [";
    for (size_t i = 0; i < sheets.size(); ++i) {
        out += i ? ",\n{\"name\": \"" : "\n{\"name\": \"";
        appendUtf8(out, sheets[i].first, TextEscape::Json);
        out += "\",\n ";
        appendMembers(out, *sheets[i].second);
        out += '}';
    }
    out += "]}\n";
    return writeText(path, out);
}

} // namespace quellar
