#include "sourcefiles.h"

#include <QFile>

QByteArray sourceFile(const char* path) {
    QFile file(QStringLiteral(VELANTRO_SOURCE_DIR "/") + QString::fromLatin1(path));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QImage sourceImage(const char* path) {
    return QImage::fromData(sourceFile(path)).convertToFormat(QImage::Format_ARGB32);
}
