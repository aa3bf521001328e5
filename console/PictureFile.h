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

// Reads the whole file into bytes, reusing the storage bytes already has.
// Returns the file's stamp as it was when it was opened.
FileStamp ReadPictureFile(const std::string& path, QByteArray& bytes);
