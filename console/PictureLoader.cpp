#include "PictureLoader.h"

#include "PictureBox.h"

#include <QCryptographicHash>

#ifdef __GLIBC__
#include <malloc.h>
#endif

bool PictureLoader::Show(const std::string& path, PictureBox& box) {
    File& file = files_[path];
    const Clock::time_point now = now_();
    FileStamp attempt;
    bool freedMuch = false;
    try {
        freedMuch = Load(path, file, now, box.contentsRect().size(), attempt);
    } catch (const PictureError&) {
        if (!file.failingSince || attempt != file.failedAttempt) {
            file.failingSince = now;
            file.failedAttempt = attempt;
        }
        if (now - *file.failingSince >= FailureGrace) {
            throw;
        }
        return false;
    }
    file.failingSince.reset();
    const bool replaced = box.Picture().cacheKey() != file.picture.cacheKey();
    if (replaced) {
        box.SetPicture(file.picture);
    }
#ifdef __GLIBC__
    // The file's bytes and the picture replaced are gone by now; glibc keeps
    // what they took unless asked to give it back.
    if (freedMuch) {
        ::malloc_trim(0);
    }
#endif
    return replaced;
}

bool PictureLoader::Load(const std::string& path, File& file, Clock::time_point now, QSize visible,
                         FileStamp& attempt) {
    attempt = StampPictureFile(path);
    if (!file.picture.isNull() && attempt == file.stamp && now - file.stampSeen >= TrustAfter) {
        return false;
    }
    QByteArray bytes;
    attempt = ReadPictureFile(path, bytes);
    QByteArray digest = QCryptographicHash::hash(bytes, QCryptographicHash::Sha1);
    const bool decode = file.picture.isNull() || digest != file.digest;
    if (decode) {
        file.picture = QPixmap::fromImage(DecodePicture(path, bytes, visible));
        file.digest = std::move(digest);
    }
    // Only a good read moves the stamp on: a file that failed is read again.
    if (attempt != file.stamp) {
        file.stamp = attempt;
        file.stampSeen = now;
    }
    constexpr qsizetype LargeFile = qsizetype{1024} * 1024;
    return decode || bytes.size() >= LargeFile;
}
