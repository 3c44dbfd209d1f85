// WorkFolder: which folder each window gets when several start in one folder, what is left
// behind when a window closes or crashes, and how a working file changed behind the window's
// back is found and written again.

#include "app/WorkFolder.h"
#include "base/Progress.h"
#include "tests/gui/GuiTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>
#include <vector>

using namespace quellar;
using test::bytesOf;
using test::leaveStaleLock;
using test::writeBytes;

namespace {

// A writer whose content the test can change, counting its runs.
struct CountingWriter {
    QByteArray content = "first content\n";
    int runs = 0;
    WorkFolder::Writer writer() {
        return [this](const QString& path) {
            ++runs;
            writeBytes(path, content);
            return QFile::exists(path) ? Status::ok() : Status::ioError(path);
        };
    }
};

} // namespace

TEST(WorkFolder, TheFirstWindowKeepsTheStartFolderAndLaterOnesGetNumberedFoldersOfTheirOwn) {
    QTemporaryDir dir;
    const QString start = dir.path();
    auto first = std::make_unique<WorkFolder>(start);
    EXPECT_EQ(first->path(), start);
    EXPECT_FALSE(first->ownFolder());
    EXPECT_TRUE(first->takeNote().isEmpty());
    EXPECT_EQ(first->filePath(QStringLiteral("1.xml")), dir.filePath(QStringLiteral("1.xml")));

    auto second = std::make_unique<WorkFolder>(start);
    const QString secondPath = dir.filePath(QStringLiteral("quellar-2"));
    EXPECT_EQ(second->path(), secondPath);
    EXPECT_TRUE(second->ownFolder());
    EXPECT_TRUE(QFileInfo(secondPath).isDir());
    const QString note = second->takeNote();
    EXPECT_TRUE(note.contains(secondPath)) << note.toStdString();
    EXPECT_TRUE(second->takeNote().isEmpty()); // said once

    // A folder of that kind holding something else belongs to somebody: it is passed over.
    QDir(start).mkdir(QStringLiteral("quellar-3"));
    writeBytes(dir.filePath(QStringLiteral("quellar-3/mine.txt")), "the user's own\n");
    auto third = std::make_unique<WorkFolder>(start);
    EXPECT_EQ(third->path(), dir.filePath(QStringLiteral("quellar-4")));

    // Closing removes the working files and the folder of its own.
    CountingWriter writer;
    ASSERT_TRUE(second->write(QStringLiteral("1.xml"), writer.writer()).isOk());
    ASSERT_TRUE(second->write(QStringLiteral("report.htm"), writer.writer()).isOk());
    ASSERT_TRUE(first->write(QStringLiteral("1.xml"), writer.writer()).isOk());
    second.reset();
    EXPECT_FALSE(QFileInfo::exists(secondPath));
    third.reset();
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("quellar-4"))));
    EXPECT_TRUE(QFileInfo::exists(dir.filePath(QStringLiteral("quellar-3/mine.txt"))));
    ASSERT_TRUE(first->write(QStringLiteral("report.htm"), writer.writer()).isOk());
    EXPECT_EQ(bytesOf(dir.filePath(QStringLiteral("1.xml"))), writer.content);
    // In the start folder the first window's working file goes with it; its report stays.
    first.reset();
    EXPECT_EQ(QDir(start).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              (QStringList{QStringLiteral("quellar-3"), QStringLiteral("report.htm")}));

    // With the first window gone the start folder is free again; a folder the closing window
    // could not empty keeps what the user put there.
    WorkFolder again(start);
    EXPECT_EQ(again.path(), start);
    {
        WorkFolder beside(start);
        ASSERT_EQ(beside.path(), secondPath);
        ASSERT_TRUE(beside.write(QStringLiteral("2.xml"), writer.writer()).isOk());
        writeBytes(dir.filePath(QStringLiteral("quellar-2/notes.txt")), "kept\n");
    }
    EXPECT_EQ(QDir(secondPath).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("notes.txt")});
}

TEST(WorkFolder, LocksOfWindowsThatAreGoneAreTakenOver) {
    QTemporaryDir dir;
    const QString start = dir.path();
    const QString lock = WorkFolder::lockFileOf(start);
    ASSERT_FALSE(lock.isEmpty());
    ASSERT_TRUE(leaveStaleLock(lock));
    WorkFolder first(start);
    EXPECT_EQ(first.path(), start);
    EXPECT_TRUE(first.takeNote().isEmpty());

    // A numbered folder left with its working files by a crashed window is used again and
    // removed when this window closes.
    const QString left = dir.filePath(QStringLiteral("quellar-2"));
    ASSERT_TRUE(QDir(start).mkdir(QStringLiteral("quellar-2")));
    writeBytes(left + QStringLiteral("/1.xml"), "from the crashed window\n");
    ASSERT_TRUE(leaveStaleLock(WorkFolder::lockFileOf(left)));
    {
        WorkFolder second(start);
        EXPECT_EQ(second.path(), left);
    }
    EXPECT_FALSE(QFileInfo::exists(left));
}

TEST(WorkFolder, AStartFolderMadeLaterIsClaimedAtTheFirstWrite) {
    QTemporaryDir dir;
    const QString start = dir.filePath(QStringLiteral("later"));
    WorkFolder first(start);
    CountingWriter writer;
    // Not there yet: the path names the start folder and the write fails there.
    EXPECT_FALSE(first.write(QStringLiteral("1.xml"), writer.writer()).isOk());
    EXPECT_FALSE(first.wrote(QStringLiteral("1.xml")));
    ASSERT_TRUE(QDir().mkpath(start));
    WorkFolder second(start);
    EXPECT_EQ(second.path(), start); // the first had no folder to claim yet
    EXPECT_TRUE(first.write(QStringLiteral("1.xml"), writer.writer()).isOk());
    EXPECT_EQ(first.path(), QDir(start).filePath(QStringLiteral("quellar-2")));
    EXPECT_FALSE(first.takeNote().isEmpty());
}

TEST(WorkFolder, AFileChangedBehindTheWindowsBackIsWrittenAgainOrRefusedByName) {
    QTemporaryDir dir;
    WorkFolder folder(dir.path());
    const QString path = dir.filePath(QStringLiteral("1.xml"));
    CountingWriter writer;
    ASSERT_TRUE(folder.write(QStringLiteral("1.xml"), writer.writer()).isOk());
    QString note;
    Result<QString> checked = folder.verified(QStringLiteral("1.xml"), &note);
    ASSERT_TRUE(checked.isOk());
    EXPECT_EQ(checked.value(), path);
    EXPECT_TRUE(note.isEmpty());
    EXPECT_EQ(writer.runs, 1);

    // Same size, other bytes: found by the hash, written again with the recorded content.
    writeBytes(path, "other content\n");
    checked = folder.verified(QStringLiteral("1.xml"), &note);
    ASSERT_TRUE(checked.isOk()) << checked.status().message().toStdString();
    EXPECT_EQ(bytesOf(path), writer.content);
    EXPECT_EQ(writer.runs, 2);
    EXPECT_TRUE(note.contains(QStringLiteral("1.xml"))) << note.toStdString();

    // Removed: said, naming the file, and not put back.
    QFile::remove(path);
    checked = folder.verified(QStringLiteral("1.xml"), &note);
    ASSERT_FALSE(checked.isOk());
    EXPECT_TRUE(checked.status().message().contains(path)) << checked.status().message().toStdString();
    EXPECT_FALSE(QFileInfo::exists(path));
    EXPECT_EQ(writer.runs, 2);

    // Written again with the same bytes (only its time changed): used as it is.
    writeBytes(path, writer.content);
    note.clear();
    EXPECT_TRUE(folder.verified(QStringLiteral("1.xml"), &note).isOk());
    EXPECT_TRUE(note.isEmpty());
    EXPECT_EQ(writer.runs, 2);

    // The writer can no longer give what the window wrote (its source changed): refused.
    writeBytes(path, "changed again\n");
    writer.content = "a new source\n";
    checked = folder.verified(QStringLiteral("1.xml"), &note);
    ASSERT_FALSE(checked.isOk());
    EXPECT_TRUE(checked.status().message().contains(path)) << checked.status().message().toStdString();
    // What the writer gave now never took the file's place.
    EXPECT_EQ(bytesOf(path), QByteArray("changed again\n"));
    EXPECT_FALSE(QFileInfo::exists(path + QStringLiteral(".restore")));

    // A file without a way to restore it, and one this window never wrote.
    ASSERT_TRUE(folder.write(QStringLiteral("3.xml"), writer.writer(), {}).isOk());
    writeBytes(dir.filePath(QStringLiteral("3.xml")), "x");
    checked = folder.verified(QStringLiteral("3.xml"));
    ASSERT_FALSE(checked.isOk());
    EXPECT_TRUE(checked.status().message().contains(QStringLiteral("3.xml")));
    EXPECT_FALSE(folder.verified(QStringLiteral("report.htm")).isOk());
    EXPECT_FALSE(folder.wrote(QStringLiteral("report.htm")));
}

// Cancelled while the file is checked, or while it is written again: the command is cancelled,
// not failed, and the file stays as it was found, with nothing left beside it.
TEST(WorkFolder, ACancelledCheckOrRestoreLeavesTheFileAsItWasFound) {
    QTemporaryDir dir;
    WorkFolder folder(dir.path());
    const QString path = dir.filePath(QStringLiteral("1.xml"));
    int runs = 0;
    const auto writer = [&](const QString& target) {
        ++runs;
        writeBytes(target, "first content\n");
        // Written again, it is cancelled after writing part of the file.
        return runs == 1 ? Status::ok() : Status::cancelled();
    };
    ASSERT_TRUE(folder.write(QStringLiteral("1.xml"), writer, writer).isOk());
    writeBytes(path, "other content\n");
    const auto leftBeside = [&] {
        return QDir(dir.path()).entryList({QStringLiteral("1.xml?*")}, QDir::Files);
    };
    {
        std::atomic<bool> flag{true};
        const cancellation::Scope scope(&flag);
        EXPECT_EQ(folder.verified(QStringLiteral("1.xml")).status().code(), Status::Code::Cancelled);
        EXPECT_EQ(runs, 1); // cancelled before it was written again
    }
    EXPECT_EQ(folder.verified(QStringLiteral("1.xml")).status().code(), Status::Code::Cancelled);
    EXPECT_EQ(runs, 2);
    EXPECT_EQ(bytesOf(path), QByteArray("other content\n"));
    EXPECT_TRUE(leftBeside().isEmpty()) << leftBeside().join(u' ').toStdString();
}

// A working file written in the background is waited for by whoever asks for it meanwhile; a
// write that fails leaves the earlier file, which is then refused with the reason rather than
// used as if it held what the window shows.
TEST(WorkFolder, ABackgroundWriteIsWaitedForAndItsFailureIsKept) {
    QTemporaryDir dir;
    WorkFolder folder(dir.path());
    const QString name = QStringLiteral("1.xml");
    const QString path = dir.filePath(name);
    CountingWriter again;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::vector<Status> outcomes;
    const auto done = [&](const Status& status) { outcomes.push_back(status); };
    folder.writeInBackground(
        name,
        [released](const QString& target) {
            released.wait();
            writeBytes(target, "first content\n");
            return Status::ok();
        },
        again.writer(), done);
    EXPECT_TRUE(folder.wrote(name));
    EXPECT_FALSE(QFileInfo::exists(path));
    std::thread later([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        release.set_value();
    });
    const Result<QString> checked = folder.verified(name);
    later.join();
    ASSERT_TRUE(checked.isOk()) << checked.status().message().toStdString();
    EXPECT_EQ(bytesOf(path), QByteArray("first content\n"));
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_TRUE(outcomes[0].isOk());
    EXPECT_EQ(again.runs, 0);

    folder.writeInBackground(
        name, [](const QString&) { return Status::ioError(QStringLiteral("磁盘已满")); }, again.writer(),
        done);
    folder.settle();
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_EQ(outcomes[1].message(), QStringLiteral("磁盘已满"));
    EXPECT_EQ(bytesOf(path), QByteArray("first content\n"));
    const Result<QString> refused = folder.verified(name);
    ASSERT_FALSE(refused.isOk());
    EXPECT_TRUE(refused.status().message().contains(QStringLiteral("磁盘已满")));
    EXPECT_TRUE(refused.status().message().contains(path)) << refused.status().message().toStdString();
    EXPECT_EQ(again.runs, 0); // the earlier bytes are not "restored" over what the window shows

    // A later write that works makes the file usable again.
    ASSERT_TRUE(folder.write(name, again.writer()).isOk());
    EXPECT_TRUE(folder.verified(name).isOk());
}

TEST(WorkFolder, NumberedFoldersNameTheirSharedFolder) {
    EXPECT_EQ(WorkFolder::sharedFolderOf(QStringLiteral("/home/a/work/quellar-2")),
              QStringLiteral("/home/a/work"));
    EXPECT_EQ(WorkFolder::sharedFolderOf(QStringLiteral("/home/a/work/quellar-17")),
              QStringLiteral("/home/a/work"));
    EXPECT_TRUE(WorkFolder::sharedFolderOf(QStringLiteral("/home/a/work")).isEmpty());
    EXPECT_TRUE(WorkFolder::sharedFolderOf(QStringLiteral("/home/a/quellar-1")).isEmpty());
    EXPECT_TRUE(WorkFolder::sharedFolderOf(QStringLiteral("/home/a/quellar-02")).isEmpty());
}

// A working file of a million-row sheet is hashed in blocks of several megabytes: a change in
// either half, or in its length, must still show.
TEST(WorkFolder, ALargeFilesStampSeesAChangeInEitherHalf) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("1.xml"));
    QByteArray bytes(qint64(64) << 20, 'x');
    bytes.append("tail");
    writeBytes(path, bytes);
    const Result<FileStamp> original = stampFile(path);
    ASSERT_TRUE(original.isOk());
    EXPECT_EQ(stampFile(path).value().hash, original.value().hash);
    for (const qint64 at : {qint64(10), bytes.size() - 2}) {
        QByteArray changed = bytes;
        changed[at] = 'y';
        writeBytes(path, changed);
        EXPECT_NE(stampFile(path).value().hash, original.value().hash) << at;
    }
    writeBytes(path, bytes + "!");
    EXPECT_NE(stampFile(path).value(), original.value());
}
