#pragma once
// StringTools: the message table (short ASCII key -> Simplified Chinese text) from which
// almost every text the program shows or writes comes, plus a few text helpers.
//
// Every object that needs texts owns its own instance; each fills the complete table in
// its constructor. Looking up a key that is not in the table gives the empty text and
// records the key with the empty text in that instance.

#include "base/Status.h"

#include <QString>
#include <QStringView>

#include <map>

namespace quellar {

class StringTools {
public:
    StringTools();
    virtual ~StringTools() = default;

    // The text of `key`; the empty text (added to the table) when the key is unknown.
    QString text(const QString& key);
    QString operator()(const QString& key) { return text(key); }

    bool contains(const QString& key) const { return table_.count(key) != 0; }
    size_t size() const { return table_.size(); }

    // A1, AB12, xy3: a letter first, a digit last, no letter after a digit.
    static bool isCellReference(QStringView text);

    // Writes `text` as UTF-16LE with a byte-order mark and a final CR LF. The file is
    // written to a temporary file and renamed into place, so a failure leaves any earlier
    // file intact; the failure is returned, naming the path.
    static Status writeTextFile(const QString& path, const QString& text);
    // The exact bytes writeTextFile writes.
    static QByteArray encodeTextFile(const QString& text);

private:
    void add(const char* key, const char16_t* text);
    std::map<QString, QString> table_;
};

} // namespace quellar
