#include "TestSupport.h"
#include "sourcefiles.h"

#include <QDir>
#include <QDirIterator>
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

    // Every file the generator writes, and at least the icon and the pictures.
    QStringList written;
    QDirIterator files(QString::fromStdString(dir.Path()), QDir::Files,
                       QDirIterator::Subdirectories);
    while (files.hasNext()) {
        written << QDir(QString::fromStdString(dir.Path())).relativeFilePath(files.next());
    }
    for (const char* expected :
         {"assets/velantro.ico", "assets/velantro-simulado.ico", "pictures/verde.jpg",
          "pictures/velantro.gif", "assets/puente-cableado.svg"}) {
        EXPECT_TRUE(written.contains(QString::fromLatin1(expected))) << expected;
    }
    for (const QString& file : written) {
        QFile fresh(QString::fromStdString(dir.File(file.toStdString())));
        ASSERT_TRUE(fresh.open(QIODevice::ReadOnly)) << file.toStdString();
        const QByteArray committed = SourceFile(file.toLatin1().constData());
        EXPECT_FALSE(committed.isEmpty())
            << file.toStdString() << " is missing from the source tree";
        EXPECT_TRUE(fresh.readAll() == committed)
            << file.toStdString() << " differs from the generator's output: run the artwork target";
    }
}

} // namespace
