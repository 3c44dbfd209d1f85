#pragma once
// StringTools: the message table (short ASCII key -> Simplified Chinese text) from which
// almost every text the program shows or writes comes, plus a few text helpers.
//
// The table is built once, on first use, and never changes afterwards, so any number of
// instances on any threads read the one table. Looking up a key that is not in the table
// gives the empty text; the instance notes the key (contains() is then true for it), which
// leaves the shared table and every other instance as they were.

#include "base/Status.h"

#include <QString>
#include <QStringView>

#include <map>
#include <set>

namespace quellar {

class StringTools {
public:
    StringTools();
    virtual ~StringTools() = default;

    // The text of `key`; the empty text (noted by this instance) when the key is unknown.
    QString text(const QString& key) const;
    QString operator()(const QString& key) const { return text(key); }

    // Whether the key is in the table or was looked up here; the number of such keys.
    bool contains(const QString& key) const;
    size_t size() const;

    // A1, AB12, xy3: a letter first, a digit last, no letter after a digit.
    static bool isCellReference(QStringView text);

    // Writes `text` as UTF-16LE with a byte-order mark and a final CR LF. The file is
    // written to a temporary file and renamed into place, so a failure leaves any earlier
    // file intact; the failure is returned, naming the path.
    static Status writeTextFile(const QString& path, const QString& text);
    // The exact bytes writeTextFile writes.
    static QByteArray encodeTextFile(const QString& text);

private:
    const std::map<QString, QString>* table_; // the one shared table
    mutable std::set<QString> missing_;        // unknown keys looked up through this instance
};

} // namespace quellar
