#pragma once

#include <QByteArray>
#include <QImage>

// Contents of a committed file, by its path relative to the top of the source tree.
QByteArray SourceFile(const char* path);

// The committed file decoded by Qt's image readers.
QImage SourceImage(const char* path);
