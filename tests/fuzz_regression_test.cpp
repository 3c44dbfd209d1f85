// Replays every kept fuzz input through the fuzz targets' own entry functions: the corpora
// (fuzz/corpus/NAME, seeded from tests/data and grown by fuzzing) and the inputs that once
// crashed or hung a reader (fuzz/regressions/NAME). A broken promise aborts the test program;
// under scripts/sanitize.sh the sanitizers watch every input as well.

#include "fuzz/FuzzEntries.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {

QStringList inputsOf(const QString& kind, const char* target) {
    QStringList paths;
    const QDir dir(QStringLiteral(QUELLAR_FUZZ_DIR "/") + kind + u'/' + QLatin1String(target));
    for (const QString& name : dir.entryList(QDir::Files, QDir::Name))
        paths.append(dir.filePath(name));
    return paths;
}

} // namespace

TEST(FuzzRegression, EveryKeptInputIsHandled) {
    for (const quellar::fuzz::Target& target : quellar::fuzz::targets()) {
        SCOPED_TRACE(target.name);
        const QStringList corpus = inputsOf(QStringLiteral("corpus"), target.name);
        EXPECT_FALSE(corpus.isEmpty()) << "no corpus for " << target.name << ": run fuzz/make_seeds.py";
        for (const QString& path : corpus + inputsOf(QStringLiteral("regressions"), target.name)) {
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
            const QByteArray bytes = file.readAll();
            target.entry(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size()));
        }
    }
}
