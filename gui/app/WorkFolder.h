#pragma once
// WorkFolder: the folder where one main window keeps its working files (1.xml, 2.xml, 3.xml,
// report.htm, the form pages), and what the window knows about each file it wrote there.
//
// The folder. Windows started in one folder would write the same file names into it and read
// each other's files back. So each window takes a lock (QLockFile) for its folder. The first
// window works in the start folder itself under the usual names: a single window behaves as
// it always did. A window that finds the start folder held by another running window works in
// a numbered folder of its own inside it ("quellar-2", "quellar-3", ...), says so once, and
// removes that folder when it closes (its working files, then the folder when nothing else is
// left in it). A lock left behind by a window whose process is gone is taken over; the lock's
// age alone never counts, since a window may stay open for days.
//
// The locks live in the user's runtime folder ($XDG_RUNTIME_DIR/quellar, else a private
// quellar-<uid> folder in the temporary folder), one per working folder, named by a hash of its
// path. The working folder itself holds nothing but the working files. Where no lock can be
// taken at all (no private runtime folder), the window works in the start folder as before;
// the checks below still keep it from using another window's file.
//
// The files. write() runs a writer, which writes through a temporary file renamed into place,
// and records the file's size, modification time and a hash of its bytes. verified() is asked
// before a working file is read back or handed to another program: a file that is no longer
// what this window wrote (changed or replaced behind its back) is written again by the writer
// that can reproduce it, which must give the very bytes recorded; when that cannot be done, and
// when the file was removed, the caller gets an error naming the file and reads nothing.
//
// A start folder that does not exist yet is claimed at the first write; until then the file
// paths name the start folder, so a write there fails with the usual message.
//
// Thread safety: write() and verified() may run on a worker thread (the window writes and reads
// large files beside its user-interface thread) while the user-interface thread asks for the
// note; a mutex guards the folder and the records, never held while a file is written or read.
// One file is written or checked by one caller at a time (the window runs one command at once);
// a background write of a file is waited for before that file is written or checked again,
// and before the folder goes.

#include "base/Status.h"

#include <QByteArray>
#include <QDateTime>
#include <QMutex>
#include <QString>

#include <functional>
#include <future>
#include <map>
#include <memory>

class QLockFile;

namespace quellar {

// What a file held when it was recorded.
struct FileStamp {
    qint64 size = -1;
    QDateTime modified;
    QByteArray hash;

    bool operator==(const FileStamp& other) const = default;
};

// Reads `path` through once; an error names the file.
Result<FileStamp> stampFile(const QString& path);

class WorkFolder {
public:
    // Writes a working file at the full path given.
    using Writer = std::function<Status(const QString& path)>;

    // Claims a folder for `startFolder` (absolute) right away when the folder exists.
    explicit WorkFolder(const QString& startFolder);
    // Waits for the background writes and releases the lock; a numbered folder of this
    // window's own is removed, and in the start folder the working files 1.xml, 2.xml and 3.xml
    // this window wrote (unchanged since) are; reports and form pages stay there.
    ~WorkFolder();
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;

    const QString& startFolder() const { return start_; }
    // Where this window's working files go: the start folder, or a numbered folder in it.
    QString path();
    QString filePath(const QString& name);
    // Whether the window works in a numbered folder of its own.
    bool ownFolder();
    // The one sentence for the status line when the window did not get the start folder;
    // empty afterwards, and when there is nothing to say.
    QString takeNote();

    // Writes working file `name` by `writer` and records what it holds. `again` writes it once
    // more when it has changed behind the window's back; it must reproduce the same bytes
    // (empty: the file cannot be restored). A failed write leaves the earlier file and its
    // record as they were.
    Status write(const QString& name, const Writer& writer, Writer again);
    Status write(const QString& name, const Writer& writer) { return write(name, writer, writer); }

    // The same as write(), on a thread of its own: returns at once. Until that write has
    // ended, wrote(name) is true and verified(name) waits for it. A write that failed leaves
    // the earlier file as it was, and verified(name) then gives its message. `done` runs on
    // the writing thread with the outcome. A second write of the same file waits for the first.
    // The write runs at a lower priority than the window's other threads.
    using Done = std::function<void(const Status&)>;
    void writeInBackground(const QString& name, Writer writer, Writer again, Done done = {});
    // Waits until the background write of `name` has ended (of every file when empty).
    void settle(const QString& name = {});

    // Whether the window wrote `name`, or is writing it (its record may be out of date).
    bool wrote(const QString& name);
    // Whether a background write of `name` has not ended yet.
    bool writing(const QString& name);
    // The full path of `name` once it is checked to hold what this window wrote; a changed
    // file is first written again, and `note` (when given) then receives one sentence saying
    // so. A file this window never wrote, a removed one and one that cannot be restored are
    // errors naming the file.
    Result<QString> verified(const QString& name, QString* note = nullptr);

    // The shared folder whose numbered folder `folder` is ("" when it is none): the forms'
    // script is looked for there too.
    static QString sharedFolderOf(const QString& folder);
    // The lock file that stands for `folder` (an existing folder); "" when locks cannot be
    // kept (no private runtime folder).
    static QString lockFileOf(const QString& folder);

private:
    struct Record {
        FileStamp stamp;
        Writer again;
        Status failure; // why the window's last write of the file failed, when it did
    };

    // Writes and records `name`; a failure is recorded too when `keepFailure`.
    Status writeAndRecord(const QString& name, const Writer& writer, Writer again, bool keepFailure);

    void claimLocked();
    QString filePathLocked(const QString& name);

    QMutex mutex_;
    const QString start_;
    QString path_;
    bool claimed_ = false;
    bool own_ = false;
    QString note_;
    std::unique_ptr<QLockFile> lock_;
    std::map<QString, Record> files_;
    std::map<QString, std::shared_future<void>> writing_; // background writes, by file
};

} // namespace quellar
