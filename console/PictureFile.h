// Reading and decoding the picture files the console shows. Pictures never go
// through Qt's pixmap cache, whose key (modification second and size) can hide
// a rewritten file.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <ctime>
#include <stdexcept>
#include <string>
#include <sys/types.h>

// A picture file that is missing, unreadable or not a picture. The message is
// Spanish and names the path and the reason.
class PictureError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Largest picture decoded whole: a GIF is always decoded onto its whole canvas,
// and a progressive JPEG is held whole by the decoder, so a file declaring
// more is refused before its pixels are allocated. Any other JPEG is decoded
// only as far as the visible part reaches.
constexpr int MaxPicturePixels = 4096 * 4096;

// Which file a path names and when it last changed: equal stamps taken at two
// moments mean the file was neither replaced nor written in between, unless
// the file system's clock is too coarse to tell (see IsRecent).
struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    timespec modified{};
    timespec changed{};

    friend bool operator==(const FileStamp& a, const FileStamp& b);

    // Modified or changed less than two seconds before now (or after it): a
    // write within the file system's timestamp granularity may still follow
    // unseen. The change time counts too because a program can set the
    // modification time back (cp -p, tar, utimensat), but not the change time.
    bool IsRecent(const timespec& now) const;
};

// The stamp of the file at path, as it is now.
FileStamp StampPictureFile(const std::string& path);

// Reads the whole file into bytes, reusing the storage bytes already has.
// Returns the file's stamp as it was when it was opened.
FileStamp ReadPictureFile(const std::string& path, QByteArray& bytes);

// Bounds what Qt's image decoders may allocate, process-wide, to what the
// largest picture held whole needs. Called once at start-up, before the first
// decode.
void LimitPictureDecoding();

// Decodes JPEG or GIF bytes, told apart by their content, as far as the
// top-left visible pixels reach: the picture box shows no more of them. path
// is only for the message. The checks here give the reason for the common
// cases; the limit set by LimitPictureDecoding stops any other way of
// declaring more (a GIF's canvas can grow past both its screen and its first
// frame).
QImage DecodePicture(const std::string& path, const QByteArray& bytes, QSize visible);
