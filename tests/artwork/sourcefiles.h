#pragma once

#include <QByteArray>
#include <QImage>

// Contents of a committed file, by its path relative to the top of the source tree.
QByteArray sourceFile(const char* path);

// The committed file decoded by Qt's image readers.
QImage sourceImage(const char* path);
