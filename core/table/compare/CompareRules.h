#pragma once
// The comparison rules beyond the content options: numeric tolerance, text normalising
// (white space, full-width forms), ignored columns and pairing columns by name. Every rule
// is off by default; with all of them off the comparison is exactly the one without rules.
//
// CompareRules is what the user chose (window dialog or command-line options). The
// comparison resolves it against the two tables' field rows into one ColumnRule per
// compared column pair, so the per-cell work never looks a name up. The text rules and the
// number rule below are the single place where "equal under the rules" is decided; the
// comparison, its key matching and the statistics all use them.

#include "base/Status.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quellar {

// One per-field value of a tolerance option ("工资=0.5").
struct FieldValue {
    QString field;
    double value = 0;
};

// Who a message about a rule names: the command line's option ("选项 --tolerance（数值容差）")
// or, in the window, the dialog's box by its label ("“数值容差”").
enum class RuleNaming { Option, Box };

struct CompareRules {
    // Numbers closer than abs + rel × |b| (b: file 2's value) are equal. The default values
    // apply to every column; a per-field value overrides the default of its kind for that
    // field (the last one given wins). A column without any value compares texts.
    std::optional<double> tolerance;
    std::optional<double> relTolerance; // a fraction: 0.005 for 0.5%
    std::vector<FieldValue> fieldTolerances;
    std::vector<FieldValue> fieldRelTolerances;
    bool ignoreSpaces = false;  // runs of white space (U+3000 included) count as one
    bool ignoreWidth = false;   // U+FF01–U+FF5E and U+3000 equal their ASCII forms
    QStringList ignoredColumns; // not compared, not coloured, not counted
    bool columnsByName = false; // positional mode and workbooks: columns pair by field name
    // How messages about the rules name them; not a rule itself.
    RuleNaming naming = RuleNaming::Option;

    bool anyTolerance() const {
        return tolerance || relTolerance || !fieldTolerances.empty() || !fieldRelTolerances.empty();
    }
    bool anyTextRule() const { return ignoreSpaces || ignoreWidth; }
    // True when no rule is in force: the comparison then runs exactly as without rules.
    bool isDefault() const {
        return !anyTolerance() && !anyTextRule() && ignoredColumns.isEmpty() && !columnsByName;
    }
    // Every field named by a per-field tolerance or an ignored column, with how a message
    // begins that names its rule (ruleSubject under `naming`).
    std::vector<std::pair<QString, QString>> namedFields() const;
};

// How messages name the options: "--tolerance（数值容差）", "--rel-tolerance（相对容差）",
// "--ignore-column（不比较的列）".
QString toleranceOptionName(bool relative);
QString ignoreColumnOptionName();
// How a message about a value of such a rule begins: "选项 --tolerance（数值容差） 的" on the
// command line, "“数值容差”里的" in the window.
enum class RuleKind { Tolerance, RelTolerance, IgnoredColumn };
QString ruleSubject(RuleKind kind, RuleNaming naming);

// The option text of a tolerance: "X" or "字段=X" (the field is everything before the last
// "="). X is a non-negative decimal number; for a relative tolerance it may end in "%"
// ("0.5%" is 0.005). A bad value is refused with a message naming the option (or the box)
// and the field.
Status addToleranceText(CompareRules& rules, const QString& text, bool relative,
                        RuleNaming naming = RuleNaming::Option);
// The value alone, as above; `subject` names the option or box as the message begins
// ("选项 --tolerance（数值容差） 的", "“数值容差”的").
Result<double> parseToleranceValue(const QString& text, bool relative, const QString& subject,
                                   const QString& field);

// The texts addToleranceText reads back into the same tolerances of `rules`, one per value,
// the default first ("0.01", "工资=0.5"; relative ones as percentages where that reads back
// exactly, "0.5%", else as the fraction): what the window's boxes show for remembered rules.
QStringList toleranceTexts(const CompareRules& rules, bool relative);

// The rule of one compared column pair, resolved from CompareRules.
struct ColumnRule {
    bool numeric = false; // a tolerance applies: both-number cells compare by value
    double absolute = 0;
    double relative = 0;
};

// How texts are normalised before they are compared: ASCII case, runs of white space,
// full-width forms. With none on, texts compare as they are.
struct TextRules {
    bool ignoreCase = false;
    bool ignoreSpaces = false;
    bool ignoreWidth = false;
    bool normalises() const { return ignoreSpaces || ignoreWidth; }
};

// White space for --ignore-spaces: the Unicode White_Space characters, U+3000 included.
bool isWhiteSpace(char16_t c);
// The ASCII form of a full-width form (U+FF01–U+FF5E, U+3000); other characters unchanged.
inline char16_t halfWidth(char16_t c) {
    if (c >= 0xFF01 && c <= 0xFF5E) return char16_t(c - 0xFEE0);
    return c == 0x3000 ? u' ' : c;
}

// True when the two texts are equal after normalising both by `rules`: white space at
// both ends dropped and inner runs made one space (ignoreSpaces), full-width forms made
// ASCII and a number in the six-decimal form of a number cell shortened to how it is typed
// ("1001.000000" as "1001", "7200.500000" as "7200.5"), so that "１００１" finds the number
// 1001 (ignoreWidth), ASCII letters upper-cased (ignoreCase). No allocation.
bool textsEqual(std::u16string_view a, std::u16string_view b, const TextRules& rules);
// Feeds the normalised text to a 64-bit FNV-style hash: equal under textsEqual, equal hash.
uint64_t hashNormalised(uint64_t h, std::u16string_view text, const TextRules& rules);

// A cell text that is a number as a whole: an optional "-", digits with at most one ".",
// at least one digit (8500.000000, -3, .5). With `fullWidth` full-width digits, point and
// minus count as their ASCII forms. No allocation.
bool cellNumber(std::u16string_view text, bool fullWidth, double& value);
// |a − b| ≤ absolute + relative × |b|, allowing for the last bits that decimal values lose
// as doubles (100.2 − 100.1 is 0.1000000000000085): a few units of rounding of the operands
// are added to the limit.
bool withinTolerance(double a, double b, const ColumnRule& rule);

// The rules in force as the status line names them ("数值容差 0.01；忽略空格"), empty when
// none is; ignoreCase is the content option of the same name.
QString rulesSummaryText(const CompareRules& rules, bool ignoreCase);
// The rules as a JSON object (UTF-8), every rule listed with its value.
void appendRulesJson(std::string& out, const CompareRules& rules, bool ignoreCase);
// A number as JSON: the shortest text that reads back as the same double.
void appendJsonNumber(std::string& out, double value);

} // namespace quellar
