#include "sourcefiles.h"

#include <QFile>

QByteArray SourceFile(const char* path) {
    QFile file(QStringLiteral(VELANTRO_SOURCE_DIR "/") + QString::fromLatin1(path));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return file.readAll();
}

QImage SourceImage(const char* path) {
    return QImage::fromData(SourceFile(path)).convertToFormat(QImage::Format_ARGB32);
}
