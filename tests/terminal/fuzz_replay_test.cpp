// Replays the committed fuzz corpus through the fuzz target with the ordinary compiler, so
// every input that once found a fault (or reached new code) keeps being run.
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

TEST(FuzzReplay, Vt100Corpus) {
    const QDir dir(stbtest::sourceDir() + QStringLiteral("/tests/terminal/corpus/vt100"));
    const QStringList files = dir.entryList(QDir::Files);
    ASSERT_GE(files.size(), 10) << "corpus missing";
    for (const QString& name : files) {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << name.toStdString();
        const QByteArray bytes = f.readAll();
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                         static_cast<std::size_t>(bytes.size())),
                  0);
    }
}
