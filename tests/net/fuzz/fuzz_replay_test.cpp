// Runs one fuzz target over its committed corpus, so every input that ever found a fault stays
// a plain test in every build.
#include "tests/support/test_support.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

TEST(FuzzReplay, WholeCorpusRunsClean) {
    const QDir corpus(stbtest::sourceDir() + QStringLiteral("/tests/net/corpus/") +
                      QStringLiteral(STBMATE_FUZZ_CORPUS));
    const QStringList files = corpus.entryList(QDir::Files);
    ASSERT_GE(files.size(), 10) << "corpus missing: " << corpus.path().toStdString();
    for (const QString& name : files) {
        QFile file(corpus.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
        const QByteArray input = file.readAll();
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(input.constData()),
                                         static_cast<std::size_t>(input.size())),
                  0);
    }
}
