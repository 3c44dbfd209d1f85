#include "app/WorkFolder.h"

#include "base/Progress.h"
#include "forms/FormPages.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QMutexLocker>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

// The state lives on the stack: no allocation that could fail while a file is stamped.
#define XXH_STATIC_LINKING_ONLY
#include <xxhash.h>

namespace quellar {
namespace {

// How much a background write gives way to the window's own work.
constexpr int kBackgroundNiceness = 10;

// A numbered folder is "quellar-2", "quellar-3", ... inside the start folder.
const QString kNumberedPrefix = QStringLiteral("quellar-");
constexpr int kMaxNumber = 99;

QString shown(const QString& path) {
    return QDir::toNativeSeparators(path);
}

// Every name a window writes into its folder: a numbered folder holding only these is one a
// window left behind, and these are removed with it.
bool isWorkingFileName(const QString& name) {
    static const QStringList names = {QStringLiteral("1.xml"), QStringLiteral("2.xml"),
                                      QStringLiteral("3.xml"), QStringLiteral("report.htm"),
                                      kQueryPageFile,          kSummaryPageFile};
    return names.contains(name);
}

// The working files that only serve the window while it is open (a million-row sheet makes
// most of a gigabyte of each): removed when it closes, unlike the reports and form pages.
bool isRemovedOnClose(const QString& name) {
    return name == QLatin1String("1.xml") || name == QLatin1String("2.xml") || name == QLatin1String("3.xml");
}

bool holdsOnlyWorkingFiles(const QString& folder) {
    const QStringList entries =
        QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    return std::all_of(entries.begin(), entries.end(), isWorkingFileName);
}

// The user's private folder for the locks: $XDG_RUNTIME_DIR/quellar, else quellar-<uid> in the
// temporary folder. It must be a real folder of this user that nobody else can write into,
// or another user could hold or fake our locks; "" when there is none.
QString lockFolder() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QString folder = QDir::isAbsolutePath(runtime) && QFileInfo(runtime).isDir()
                               ? runtime + QStringLiteral("/quellar")
                               : QDir::tempPath() + QStringLiteral("/quellar-") + QString::number(::getuid());
    const QByteArray encoded = QFile::encodeName(folder);
    if (::mkdir(encoded.constData(), 0700) != 0 && errno != EEXIST) return {};
    struct stat st {};
    if (::lstat(encoded.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid() ||
        (st.st_mode & 077) != 0)
        return {};
    return folder;
}

// The lock for `folder` (a canonical path, which need not exist yet) inside `locks`.
QString lockPath(const QString& locks, const QString& folder) {
    const QByteArray key =
        QCryptographicHash::hash(folder.toUtf8(), QCryptographicHash::Sha256).toHex().left(32);
    return locks + u'/' + QString::fromLatin1(key) + QStringLiteral(".lock");
}

enum class Taken { Yes, Held, Failed };

// Takes the lock at `path`: a lock of a process that is gone is taken over, and only that;
// a window keeps its lock as long as it is open, so the lock's age says nothing.
Taken takeLock(const QString& path, std::unique_ptr<QLockFile>& lock) {
    lock = std::make_unique<QLockFile>(path);
    lock->setStaleLockTime(0);
    if (lock->tryLock(0)) return Taken::Yes;
    const bool held = lock->error() == QLockFile::LockFailedError;
    lock.reset();
    return held ? Taken::Held : Taken::Failed;
}

// Hashes `length` bytes of `file` into `result`; false when they cannot all be read (an
// error, or a file cut short behind the window's back). XXH3: a working file of a million-row
// sheet is most of a gigabyte, and the hash only has to tell a changed file from the one the
// window wrote, so a hash that runs at the speed of memory is chosen over a cryptographic one.
// (Read, not mapped: a file cut short while it is read must end in a message, not a bus error.)
bool hashFile(QFile& file, qint64 length, QByteArray& result) {
    XXH3_state_t state;
    XXH3_INITSTATE(&state);
    XXH3_128bits_reset(&state);
    QByteArray block(int(std::min<qint64>(length, 4 << 20)), Qt::Uninitialized);
    while (length > 0) {
        if (cancellation::requested()) return false; // stampFile tells it from a failed read
        const qint64 n = file.read(block.data(), std::min<qint64>(length, block.size()));
        if (n <= 0) return false;
        XXH3_128bits_update(&state, block.constData(), size_t(n));
        length -= n;
    }
    XXH128_canonical_t canonical;
    XXH128_canonicalFromHash(&canonical, XXH3_128bits_digest(&state));
    result = QByteArray(reinterpret_cast<const char*>(canonical.digest), sizeof canonical.digest);
    return true;
}

} // namespace

Result<FileStamp> stampFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return Status::notFound(
            QStringLiteral("无法打开工作文件 %1：%2").arg(shown(path), file.errorString()));
    FileStamp stamp;
    stamp.modified = file.fileTime(QFileDevice::FileModificationTime);
    stamp.size = file.size();
    const bool read = hashFile(file, stamp.size, stamp.hash);
    if (!read && cancellation::requested()) return Status::cancelled();
    if (!read)
        return Status::ioError(QStringLiteral("读取工作文件 %1 失败：%2")
                                   .arg(shown(path), file.error() != QFileDevice::NoError
                                                         ? file.errorString()
                                                         : QStringLiteral("文件在读取时变短了")));
    return stamp;
}

WorkFolder::WorkFolder(const QString& startFolder)
    : start_(startFolder)
    , path_(startFolder) {
    QMutexLocker locker(&mutex_);
    claimLocked();
}

WorkFolder::~WorkFolder() {
    settle();
    QMutexLocker locker(&mutex_);
    if (own_) {
        // Only the files a window writes, then the folder if that emptied it: whatever else
        // someone put there stays.
        QDir folder(path_);
        for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System))
            if (isWorkingFileName(name) || files_.count(name)) folder.remove(name);
        QDir().rmdir(path_);
    } else {
        // In the shared folder only the large working files go, and only while they are what
        // this window wrote (a file written again since, by another program or a window sharing
        // the folder without a lock, stays); the reports and form pages are the user's to keep.
        for (const auto& [name, record] : files_) {
            if (!isRemovedOnClose(name) || !record.failure.isOk()) continue;
            const QFileInfo info(QDir(path_).filePath(name));
            if (info.isFile() && !info.isSymLink() && info.size() == record.stamp.size &&
                info.lastModified() == record.stamp.modified)
                QFile::remove(info.filePath());
        }
    }
    lock_.reset();
}

void WorkFolder::claimLocked() {
    if (claimed_) return;
    const QFileInfo info(start_);
    if (!info.isDir()) return; // claimed at the first write, once the folder is there
    claimed_ = true;
    const QString locks = lockFolder();
    if (locks.isEmpty()) return; // no locks: the start folder, as before
    const QString canonical = info.canonicalFilePath();
    const Taken start = takeLock(lockPath(locks, canonical), lock_);
    if (start != Taken::Held) return; // ours, or no lock possible: the start folder either way

    for (int n = 2; n <= kMaxNumber; ++n) {
        const QString name = kNumberedPrefix + QString::number(n);
        std::unique_ptr<QLockFile> lock;
        const Taken taken = takeLock(lockPath(locks, canonical + u'/' + name), lock);
        if (taken == Taken::Held) continue;
        if (taken == Taken::Failed) break;
        const QString folder = QDir(start_).filePath(name);
        const QFileInfo existing(folder);
        if (existing.exists() || existing.isSymLink()) {
            // Left by a window that is gone: used again. Anything else of that name is not ours.
            if (existing.isSymLink() || !existing.isDir() || !holdsOnlyWorkingFiles(folder)) continue;
        } else if (!QDir(start_).mkdir(name)) {
            break;
        }
        lock_ = std::move(lock);
        path_ = folder;
        own_ = true;
        note_ = QStringLiteral(
                    "工作文件夹 %1 正由另一个 Quellar 窗口使用，本窗口的工作文件写在 %2 中，关闭窗口时删除。")
                    .arg(shown(start_), shown(folder));
        return;
    }
    note_ = QStringLiteral("工作文件夹 %1 正由另一个 Quellar "
                           "窗口使用，无法为本窗口另建工作文件夹，两个窗口共用其中的工作文件。")
                .arg(shown(start_));
}

QString WorkFolder::path() {
    QMutexLocker locker(&mutex_);
    claimLocked();
    return path_;
}

QString WorkFolder::filePathLocked(const QString& name) {
    claimLocked();
    return QDir(path_).filePath(name);
}

QString WorkFolder::filePath(const QString& name) {
    QMutexLocker locker(&mutex_);
    return filePathLocked(name);
}

bool WorkFolder::ownFolder() {
    QMutexLocker locker(&mutex_);
    claimLocked();
    return own_;
}

QString WorkFolder::takeNote() {
    QMutexLocker locker(&mutex_);
    claimLocked();
    return std::exchange(note_, QString());
}

// The writers and the reading run without the mutex, so that the user-interface thread (its
// status line asks for the note) never waits for a large file; the window runs one command at
// a time, so no two of them work on one file.
Status WorkFolder::write(const QString& name, const Writer& writer, Writer again) {
    settle(name);
    return writeAndRecord(name, writer, std::move(again), false);
}

Status WorkFolder::writeAndRecord(const QString& name, const Writer& writer, Writer again, bool keepFailure) {
    const QString path = filePath(name);
    // Out of memory while writing or stamping is a failure like any other (a background write
    // has nobody to throw to).
    Result<FileStamp> stamp = Status::cancelled(); // set by the write below
    const Status status = runGuarded([&] {
        const Status written = writer(path);
        stamp = written.isOk() ? stampFile(path) : Result<FileStamp>(written);
        return stamp.status();
    });
    if (!status.isOk()) stamp = status;
    QMutexLocker locker(&mutex_);
    if (stamp.isOk())
        files_[name] = Record{stamp.take(), std::move(again), Status::ok()};
    else if (keepFailure)
        // The file on disk is no longer what the window shows, whatever it holds.
        files_[name] = Record{FileStamp{}, Writer{}, stamp.status()};
    else
        files_.erase(name);
    return stamp.status();
}

void WorkFolder::writeInBackground(const QString& name, Writer writer, Writer again, Done done) {
    settle(name);
    std::shared_future<void> finished =
        std::async(std::launch::async, [this, name, writer = std::move(writer), again = std::move(again),
                                        done = std::move(done)]() mutable {
            // Behind whatever the window does meanwhile (the next file being read, a
            // comparison): on Linux the niceness is the thread's own, and the threads the
            // writer starts inherit it.
            setpriority(PRIO_PROCESS, ::gettid(), kBackgroundNiceness);
            const Status status = writeAndRecord(name, writer, std::move(again), true);
            if (done) done(status);
        }).share();
    QMutexLocker locker(&mutex_);
    writing_[name] = std::move(finished);
}

void WorkFolder::settle(const QString& name) {
    for (;;) {
        QMutexLocker locker(&mutex_);
        auto it = name.isEmpty() ? writing_.begin() : writing_.find(name);
        if (it == writing_.end()) return;
        const std::shared_future<void> finished = it->second;
        locker.unlock();
        finished.wait();
        locker.relock();
        // Another caller may have waited for it and started a new one meanwhile.
        it = writing_.find(it->first);
        if (it != writing_.end() && it->second.wait_for(std::chrono::seconds(0)) == std::future_status::ready)
            writing_.erase(it);
    }
}

bool WorkFolder::writing(const QString& name) {
    QMutexLocker locker(&mutex_);
    const auto it = writing_.find(name);
    return it != writing_.end() && it->second.wait_for(std::chrono::seconds(0)) != std::future_status::ready;
}

bool WorkFolder::wrote(const QString& name) {
    QMutexLocker locker(&mutex_);
    return files_.count(name) != 0 || writing_.count(name) != 0;
}

Result<QString> WorkFolder::verified(const QString& name, QString* note) {
    settle(name);
    QMutexLocker locker(&mutex_);
    const QString path = filePathLocked(name);
    const auto it = files_.find(name);
    if (it == files_.end())
        return Status::notFound(QStringLiteral("工作文件 %1 不是本窗口写出的").arg(shown(path)));
    const Record record = it->second;
    if (!record.failure.isOk())
        return Status::ioError(
            QStringLiteral("工作文件 %1 没有写出：%2").arg(shown(path), record.failure.message()));
    locker.unlock();
    auto keep = [&](FileStamp stamp) {
        QMutexLocker relock(&mutex_);
        files_[name].stamp = std::move(stamp);
    };

    // A file that is gone was removed on purpose, not written over by another program: that is
    // said, naming the file, rather than put back.
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return Status::notFound(
            QStringLiteral("找不到工作文件 %1：它在本窗口写出之后被删除了").arg(shown(path)));
    // A file of another size is changed without reading it; otherwise its bytes decide (a
    // file only touched, or copied back, still holds what the window wrote).
    if (info.isFile() && info.size() == record.stamp.size) {
        Result<FileStamp> now = stampFile(path);
        if (now.status().code() == Status::Code::Cancelled) return now.status();
        if (now.isOk() && now.value().size == record.stamp.size && now.value().hash == record.stamp.hash) {
            keep(now.take());
            return path;
        }
    }

    const QString changed = QStringLiteral("工作文件 %1 在本窗口写出之后被改动了").arg(shown(path));
    if (!record.again) return Status::invalidInput(changed + QStringLiteral("，无法重新写出。"));
    // Written beside it first: only the very bytes the window wrote take its place, and a
    // restore that fails leaves the file as it found it.
    const QString restored = path + QStringLiteral(".restore");
    Status status = record.again(restored);
    Result<FileStamp> stamp = status.isOk() ? stampFile(restored) : Result<FileStamp>(status);
    // Cancelled while the file is written again or read back: it stays as it was found.
    if (stamp.status().code() == Status::Code::Cancelled) {
        QFile::remove(restored);
        return Status::cancelled();
    }
    if (stamp.isOk() && (stamp.value().hash != record.stamp.hash || stamp.value().size != record.stamp.size))
        status = Status::invalidInput(
            changed + QStringLiteral("；重新写出的内容与本窗口原来写出的不同（它的来源也已改变）。"));
    else if (!stamp.isOk())
        status =
            Status::ioError(changed + QStringLiteral("，重新写出没有成功：%1").arg(stamp.status().message()));
    else if (::rename(QFile::encodeName(restored).constData(), QFile::encodeName(path).constData()) != 0)
        status = Status::ioError(
            changed +
            QStringLiteral("，重新写出没有成功：%1").arg(QString::fromLocal8Bit(std::strerror(errno))));
    if (!status.isOk()) {
        QFile::remove(restored);
        return status;
    }
    keep(stamp.take());
    if (note) *note = changed + QStringLiteral("，已重新写出。");
    return path;
}

QString WorkFolder::sharedFolderOf(const QString& folder) {
    static const QRegularExpression numbered(QStringLiteral("^quellar-([2-9]|[1-9][0-9])$"));
    const QFileInfo info(folder);
    if (!numbered.match(info.fileName()).hasMatch()) return {};
    return info.absolutePath();
}

QString WorkFolder::lockFileOf(const QString& folder) {
    const QString locks = lockFolder();
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    if (locks.isEmpty() || canonical.isEmpty()) return {};
    return lockPath(locks, canonical);
}

} // namespace quellar
