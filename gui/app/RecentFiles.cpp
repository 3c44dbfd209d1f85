#include "app/RecentFiles.h"

#include <QFileInfo>
#include <QSettings>

namespace quellar {
namespace {

const QString kLastFolderKey = QStringLiteral("recent/folder");

} // namespace

RecentFiles::RecentFiles(int which)
    : key_(QStringLiteral("recent/file%1").arg(which)) {}

QStringList RecentFiles::paths() const {
    QStringList list = QSettings().value(key_).toStringList();
    list.removeAll(QString());
    return list.mid(0, kLimit);
}

void RecentFiles::add(const QString& path) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    QStringList list = paths();
    list.removeAll(absolute);
    list.prepend(absolute);
    store(list.mid(0, kLimit));
    QSettings().setValue(kLastFolderKey, QFileInfo(absolute).absolutePath());
}

QString RecentFiles::lastFolder() {
    const QString folder = QSettings().value(kLastFolderKey).toString();
    return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : QString();
}

void RecentFiles::remove(const QString& path) {
    QStringList list = paths();
    list.removeAll(QFileInfo(path).absoluteFilePath());
    store(list);
}

void RecentFiles::clear() {
    store({});
}

void RecentFiles::store(const QStringList& paths) {
    QSettings settings;
    settings.setValue(key_, paths);
}

} // namespace quellar
