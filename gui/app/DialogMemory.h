#pragma once
// DialogMemory: what each options dialog was last confirmed with, kept between runs (in the
// program's settings) for each set of field names. Running an operation again on tables
// with the same fields opens its dialog with those choices already made.

#include "app/UserPrompts.h"

#include <QString>
#include <QVariant>

#include <optional>

namespace quellar {

class DialogMemory {
public:
    std::optional<DiffChoice> diff(const FieldList& fields) const;
    void storeDiff(const FieldList& fields, const DiffChoice& choice);
    std::optional<CompareOptions> book() const;
    void storeBook(const CompareOptions& options);
    std::optional<JoinChoice> join(const FieldList& fields) const;
    void storeJoin(const FieldList& fields, const JoinChoice& choice);
    std::optional<FilterChoice> filter(const FieldList& fields) const;
    void storeFilter(const FieldList& fields, const FilterChoice& choice);
    std::optional<GroupSumChoice> groupSum(const FieldList& fields) const;
    void storeGroupSum(const FieldList& fields, const GroupSumChoice& choice);
    std::optional<PageSumChoice> pageSum(const QStringList& dialogList) const;
    void storePageSum(const QStringList& dialogList, const PageSumChoice& choice);
    std::optional<int> blankRows() const;
    void storeBlankRows(int count);

    // The settings key of a dialog for a set of field names.
    static QString key(const QString& dialog, const QStringList& fields);

private:
    QVariant value(const QString& key) const;
    void setValue(const QString& key, const QVariant& value);
};

} // namespace quellar
