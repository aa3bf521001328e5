// Keeps the picture box in step with the picture files, tick after tick.
//
// The decoded visible part of each file is kept with the stamp of the read it
// came from, so a file that has not changed costs one stat, whether its
// picture is on show or comes back after another: nothing is read or decoded.
// A file is read again when its stamp differs, and also while the console
// first saw that stamp less than two seconds ago by its own monotonic clock: a
// write within the file system's timestamp granularity may leave the stamp as
// it was. The file's dates are never compared with the wall clock, so a file
// dated in the future or the past, or a clock set back, changes nothing. The
// bytes read are decoded only when they differ from those the kept picture
// came from, and are not kept afterwards.
//
// A file that cannot be read or decoded is often one being replaced (copied
// over in place, deleted and written anew, arriving slowly over a network).
// The picture on show then stays and the file is tried again on every tick
// that selects it. Each file has its own failure state: only a good read of
// that file ends it, and while the file keeps changing (its stamp differs from
// that of the previous failed attempt) it is still arriving and its second
// starts again. A file that has failed for a whole second without changing is
// reported with its last failure.
#pragma once

#include "PictureFile.h"
#include "PictureFormats.h"

#include <QByteArray>
#include <QPixmap>
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>

class PictureBox;

class PictureLoader {
public:
    using Clock = std::chrono::steady_clock;
    using Now = std::function<Clock::time_point()>;

    static constexpr Clock::duration FailureGrace = std::chrono::seconds(1);
    static constexpr Clock::duration TrustAfter = std::chrono::seconds(2);

    explicit PictureLoader(Now now = Clock::now) : now_(std::move(now)) {}

    // Shows the picture file at path in box; returns whether the box now shows
    // another picture. Throws PictureError when the file has failed for
    // FailureGrace without changing, this read included.
    bool Show(const std::string& path, PictureBox& box);

private:
    struct File {
        FileStamp stamp;             // of the read the picture came from
        Clock::time_point stampSeen; // when that stamp was first seen
        QByteArray digest;           // of the bytes the picture came from
        QPixmap picture;             // the decoded visible part; null before a good read
        FileStamp failedAttempt;     // the file as the last failed attempt found it
        std::optional<Clock::time_point> failingSince;
    };

    // Brings file's picture up to date; attempt is set to the file's stamp as
    // far as it was taken. Returns whether it freed memory worth giving back
    // (a decode, or a large file read).
    bool Load(const std::string& path, File& file, Clock::time_point now, QSize visible,
              FileStamp& attempt);

    Now now_;
    std::map<std::string, File> files_; // one for each picture file, four at most
};
