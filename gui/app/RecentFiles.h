#pragma once
// RecentFiles: the workbooks last opened as file 1 or file 2, newest first, at most ten,
// kept between runs in the program's settings, and the folder of the one opened last.

#include <QString>
#include <QStringList>

namespace quellar {

class RecentFiles {
public:
    static constexpr int kLimit = 10;

    // which: 1 or 2, the pane the files were opened in.
    explicit RecentFiles(int which);

    QStringList paths() const;
    // Puts `path` first (once), dropping the oldest beyond the limit.
    void add(const QString& path);
    void remove(const QString& path);
    void clear();

    // The folder of the workbook opened last, as file 1 or file 2 (kept by add), while it
    // still exists; empty otherwise. The open dialog starts there.
    static QString lastFolder();

private:
    void store(const QStringList& paths);
    QString key_;
};

} // namespace quellar
