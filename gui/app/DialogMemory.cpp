#include "app/DialogMemory.h"

#include <QCryptographicHash>
#include <QSettings>

namespace quellar {
namespace {

const QString kRuleSeparator = QStringLiteral("；");

// Options as a list of "name=0/1" entries, so that one added later reads as its default; the
// rules' texts as "name=text" entries, tolerances as the boxes show them ("工资=0.5；0.01").
QStringList optionsList(const CompareOptions& o) {
    auto flag = [](const char* name, bool on) {
        return QStringLiteral("%1=%2").arg(QLatin1String(name)).arg(on);
    };
    QStringList list = {flag("text", o.compareText),
                        flag("formula", o.compareFormula),
                        flag("format", o.compareNumberFormat),
                        flag("case", o.ignoreCase),
                        flag("key", o.keyMode),
                        flag("spaces", o.rules.ignoreSpaces),
                        flag("width", o.rules.ignoreWidth),
                        flag("byName", o.rules.columnsByName),
                        flag("align", o.alignRows)};
    const auto texts = [&](const char* name, const QStringList& values) {
        if (!values.isEmpty()) list << QLatin1String(name) + u'=' + values.join(kRuleSeparator);
    };
    texts("tolerance", toleranceTexts(o.rules, false));
    texts("relTolerance", toleranceTexts(o.rules, true));
    texts("ignored", o.rules.ignoredColumns);
    return list;
}

CompareOptions optionsFrom(const QStringList& list) {
    CompareOptions o;
    for (const QString& entry : list) {
        const bool on = entry.endsWith(QLatin1String("=1"));
        const QString name = entry.section(u'=', 0, 0);
        const QStringList values = entry.section(u'=', 1).split(kRuleSeparator, Qt::SkipEmptyParts);
        if (name == QLatin1String("text")) o.compareText = on;
        if (name == QLatin1String("formula")) o.compareFormula = on;
        if (name == QLatin1String("format")) o.compareNumberFormat = on;
        if (name == QLatin1String("case")) o.ignoreCase = on;
        if (name == QLatin1String("key")) o.keyMode = on;
        if (name == QLatin1String("spaces")) o.rules.ignoreSpaces = on;
        if (name == QLatin1String("width")) o.rules.ignoreWidth = on;
        if (name == QLatin1String("byName")) o.rules.columnsByName = on;
        // Each text was read from the box when stored; one that no longer reads is left out.
        for (bool relative : {false, true})
            if (name == QLatin1String(relative ? "relTolerance" : "tolerance"))
                for (const QString& value : values)
                    (void)addToleranceText(o.rules, value, relative, RuleNaming::Box);
        if (name == QLatin1String("ignored")) o.rules.ignoredColumns = values;
        if (name == QLatin1String("align")) o.alignRows = on;
    }
    return o;
}

QVariantMap asMap(const QVariant& v) {
    return v.toMap();
}

} // namespace

QString DialogMemory::key(const QString& dialog, const QStringList& fields) {
    // The field names can be long and hold any character; their digest names the entry.
    const QByteArray digest =
        QCryptographicHash::hash(fields.join(QChar(0x1f)).toUtf8(), QCryptographicHash::Sha1)
            .toHex()
            .left(20);
    return QStringLiteral("dialogs/%1/%2").arg(dialog, QString::fromLatin1(digest));
}

QVariant DialogMemory::value(const QString& key) const {
    return QSettings().value(key);
}

void DialogMemory::setValue(const QString& key, const QVariant& value) {
    QSettings().setValue(key, value);
}

std::optional<DiffChoice> DialogMemory::diff(const FieldList& fields) const {
    const QVariantMap m = asMap(value(key(QStringLiteral("diff"), fields)));
    if (m.isEmpty()) return std::nullopt;
    return DiffChoice{optionsFrom(m.value(QStringLiteral("options")).toStringList()),
                      m.value(QStringLiteral("keys")).toStringList()};
}

void DialogMemory::storeDiff(const FieldList& fields, const DiffChoice& choice) {
    setValue(key(QStringLiteral("diff"), fields),
             QVariantMap{{QStringLiteral("options"), optionsList(choice.options)},
                         {QStringLiteral("keys"), choice.keys}});
}

std::optional<CompareOptions> DialogMemory::book() const {
    const QVariant v = value(QStringLiteral("dialogs/book"));
    if (!v.isValid()) return std::nullopt;
    return optionsFrom(v.toStringList());
}

void DialogMemory::storeBook(const CompareOptions& options) {
    setValue(QStringLiteral("dialogs/book"), optionsList(options));
}

std::optional<JoinChoice> DialogMemory::join(const FieldList& fields) const {
    const QVariantMap m = asMap(value(key(QStringLiteral("join"), fields)));
    if (m.isEmpty()) return std::nullopt;
    JoinChoice choice;
    choice.conditions = m.value(QStringLiteral("conditions")).toStringList();
    choice.options.preferFileOne = m.value(QStringLiteral("fileOne"), true).toBool();
    choice.options.sumNumbers = m.value(QStringLiteral("sum"), false).toBool();
    return choice;
}

void DialogMemory::storeJoin(const FieldList& fields, const JoinChoice& choice) {
    setValue(key(QStringLiteral("join"), fields),
             QVariantMap{{QStringLiteral("conditions"), choice.conditions},
                         {QStringLiteral("fileOne"), choice.options.preferFileOne},
                         {QStringLiteral("sum"), choice.options.sumNumbers}});
}

std::optional<FilterChoice> DialogMemory::filter(const FieldList& fields) const {
    const QVariantMap m = asMap(value(key(QStringLiteral("filter"), fields)));
    if (m.isEmpty()) return std::nullopt;
    return FilterChoice{m.value(QStringLiteral("fields")).toStringList(),
                        m.value(QStringLiteral("values")).toStringList()};
}

void DialogMemory::storeFilter(const FieldList& fields, const FilterChoice& choice) {
    setValue(key(QStringLiteral("filter"), fields), QVariantMap{{QStringLiteral("fields"), choice.fields},
                                                                {QStringLiteral("values"), choice.values}});
}

std::optional<GroupSumChoice> DialogMemory::groupSum(const FieldList& fields) const {
    const QVariantMap m = asMap(value(key(QStringLiteral("groupSum"), fields)));
    if (m.isEmpty()) return std::nullopt;
    return GroupSumChoice{m.value(QStringLiteral("groups")).toStringList(),
                          m.value(QStringLiteral("sums")).toStringList()};
}

void DialogMemory::storeGroupSum(const FieldList& fields, const GroupSumChoice& choice) {
    setValue(key(QStringLiteral("groupSum"), fields),
             QVariantMap{{QStringLiteral("groups"), choice.groupFields},
                         {QStringLiteral("sums"), choice.sumLabels}});
}

std::optional<PageSumChoice> DialogMemory::pageSum(const QStringList& dialogList) const {
    const QVariantMap m = asMap(value(key(QStringLiteral("pageSum"), dialogList)));
    if (m.isEmpty()) return std::nullopt;
    return PageSumChoice{m.value(QStringLiteral("rows")).toString(),
                         m.value(QStringLiteral("column")).toString(),
                         m.value(QStringLiteral("sums")).toStringList()};
}

void DialogMemory::storePageSum(const QStringList& dialogList, const PageSumChoice& choice) {
    setValue(key(QStringLiteral("pageSum"), dialogList),
             QVariantMap{{QStringLiteral("rows"), choice.rowsPerPage},
                         {QStringLiteral("column"), choice.subtotalColumn},
                         {QStringLiteral("sums"), choice.pageSumLabels}});
}

std::optional<int> DialogMemory::blankRows() const {
    bool ok = false;
    const int count = value(QStringLiteral("dialogs/blankRows")).toInt(&ok);
    if (!ok || count < 1) return std::nullopt;
    return count;
}

void DialogMemory::storeBlankRows(int count) {
    setValue(QStringLiteral("dialogs/blankRows"), count);
}

} // namespace quellar
