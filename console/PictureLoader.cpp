#include "PictureLoader.h"

#include "PictureBox.h"

void PictureLoader::Show(const std::string& path, PictureBox& box) {
    try {
        Load(path, box);
    } catch (const PictureError&) {
        const Clock::time_point now = now_();
        if (!failingSince_) {
            failingSince_ = now;
        }
        if (now - *failingSince_ >= FailureGrace) {
            throw;
        }
        return;
    }
    failingSince_.reset();
}

void PictureLoader::Load(const std::string& path, PictureBox& box) {
    if (StampPictureFile(path) == shown_) {
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        if (!shown_.IsRecent(now)) {
            return;
        }
    }
    const FileStamp read = ReadPictureFile(path, bytes_);
    if (bytes_ != box.PictureBytes()) {
        const QPixmap picture =
            QPixmap::fromImage(DecodePicture(path, bytes_, box.contentsRect().size()));
        box.SetPicture(picture, bytes_);
    }
    shown_ = read;
}
