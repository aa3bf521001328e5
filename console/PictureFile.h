// Reading the picture files the console shows, and telling whether a file has
// changed. Pictures never go through Qt's pixmap cache, whose key
// (modification second and size) can hide a rewritten file.
#pragma once

#include <QByteArray>
#include <ctime>
#include <stdexcept>
#include <string>
#include <sys/types.h>

// A picture file that is missing, unreadable or not a picture. The message is
// Spanish and names the path and the reason.
class PictureError : public std::runtime_error {
public:
    PictureError(const std::string& path, const std::string& reason)
        : std::runtime_error("No se puede cargar la imagen " + path + ": " + reason + ".") {}
};

// Which file a path names and when it last changed: equal stamps taken at two
// moments mean the file was neither replaced nor written in between, unless
// both moments fall within the file system's timestamp granularity.
struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1; // -1: no file
    timespec modified{};
    timespec changed{};

    friend bool operator==(const FileStamp& a, const FileStamp& b);
    friend bool operator!=(const FileStamp& a, const FileStamp& b) { return !(a == b); }
};

// The stamp of the file at path, as it is now.
FileStamp StampPictureFile(const std::string& path);

// Reads a picture file a part at a time: opened when made, read on by
// ReadOn. Throws PictureError for a file that is missing, unreadable, not a
// plain file, or larger than a picture file may be.
class PictureFileReader {
public:
    explicit PictureFileReader(const std::string& path);
    ~PictureFileReader();
    PictureFileReader(const PictureFileReader&) = delete;
    PictureFileReader& operator=(const PictureFileReader&) = delete;

    // The file's stamp as it was when it was opened.
    const FileStamp& Stamp() const { return stamp_; }

    // Reads up to most more bytes; returns how many. Reading is over when
    // Done() says so: the file has been read to its end.
    qint64 ReadOn(qint64 most);
    bool Done() const { return done_; }
    qint64 Length() const { return length_; }
    // The bytes read: as many as Length() and storage past them while reading
    // goes on.
    const QByteArray& Bytes() const { return bytes_; }

private:
    std::string path_;
    int fd_ = -1;
    FileStamp stamp_;
    QByteArray bytes_;
    qint64 length_ = 0; // read so far
    bool done_ = false;
};
