// Reading and decoding the picture files the console shows. Pictures are read
// from disk every time they are asked for and never go through Qt's pixmap
// cache, whose key (modification second and size) can hide a rewritten file.
#pragma once

#include <QByteArray>
#include <QImage>
#include <stdexcept>
#include <string>

// A picture file that is missing, unreadable or not a picture. The message is
// Spanish and names the path and the reason.
class PictureError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Largest picture accepted, so that a file declaring a huge size is refused
// before its pixels are allocated.
constexpr int MaxPicturePixels = 4096 * 4096;

// Reads the whole file into bytes, reusing the storage bytes already has.
void ReadPictureFile(const std::string& path, QByteArray& bytes);

// Decodes JPEG or GIF bytes, told apart by their content. path is only for the
// message.
QImage DecodePicture(const std::string& path, const QByteArray& bytes);
