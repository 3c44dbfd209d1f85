// The UTF-16 text files the program writes (report, form pages): their bytes, and a failure
// that names the file.

#include "base/TextIO.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quellar;

TEST(Utf16TextFile, BytesAndFailure) {
    EXPECT_EQ(encodeUtf16Text(QStringLiteral("abc")), QByteArray("\xFF\xFE"
                                                                 "a\0b\0c\0\r\0\n\0",
                                                                 12));
    EXPECT_EQ(encodeUtf16Text(QString()), QByteArray("\xFF\xFE\r\0\n\0", 6));

    QTemporaryDir dir;
    const QString path = dir.filePath("report.htm");
    ASSERT_TRUE(writeUtf16TextFile(path, QStringLiteral("old")).isOk());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), encodeUtf16Text(QStringLiteral("old")));

    const Status missingFolder = writeUtf16TextFile(dir.filePath("no/such/folder/x.htm"), "abc");
    EXPECT_FALSE(missingFolder.isOk());
    EXPECT_TRUE(missingFolder.message().contains("x.htm"));
}
