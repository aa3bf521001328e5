#include "TestSupport.h"
#include "sourcefiles.h"

#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

namespace {

// The committed artwork must be exactly what the generator draws today, so that it
// can be regenerated at any time without surprises.
TEST(Generator, ReproducesCommittedFiles) {
    const testsupport::TempDir dir;
    QProcess generator;
    generator.start(QStringLiteral(VELANTRO_ARTGEN), {QString::fromStdString(dir.Path())});
    ASSERT_TRUE(generator.waitForFinished(120000));
    ASSERT_EQ(generator.exitStatus(), QProcess::NormalExit);
    ASSERT_EQ(generator.exitCode(), 0) << generator.readAllStandardError().toStdString();

    for (const char* file :
         {"assets/velantro.ico", "assets/velantro-16.png", "assets/velantro-32.png",
          "assets/velantro-48.png", "assets/velantro-64.png", "assets/velantro-128.png",
          "assets/velantro-256.png", "assets/velantro.svg", "pictures/verde.jpg",
          "pictures/amarillo.jpg", "pictures/rojo.jpg", "pictures/velantro.gif",
          "assets/puente-cableado.svg"}) {
        QFile fresh(QString::fromStdString(dir.File(file)));
        ASSERT_TRUE(fresh.open(QIODevice::ReadOnly)) << file;
        const QByteArray committed = SourceFile(file);
        EXPECT_FALSE(committed.isEmpty()) << file << " is missing from the source tree";
        EXPECT_TRUE(fresh.readAll() == committed)
            << file << " differs from the generator's output: run the artwork target";
    }
}

} // namespace
