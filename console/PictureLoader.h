// Keeps the picture box in step with the picture files, tick after tick.
//
// The decoded visible part of each file is kept with the stamp of the read it
// came from, so a file that has not changed costs one stat, whether its
// picture is on show or comes back after another: nothing is read or decoded.
// A file is read when its stamp differs, and once more when that stamp has
// held for two seconds by the console's own monotonic clock: a write within
// the file system's timestamp granularity may leave the stamp as it was. In
// between it is only stat'ed. The file's dates are never compared with the
// wall clock, so a file dated in the future or the past, or a clock set back,
// changes nothing. The bytes read are decoded only when they differ from those
// the kept picture came from, and are not kept afterwards.
//
// A file is read and decoded a share per tick: a small one comes on show in
// the tick that selects it, a big one some ticks later, the picture on show
// staying until the new one is whole, so that the ticks keep their pace.
//
// A file that cannot be read or decoded is often one being replaced (copied
// over in place, deleted and written anew, arriving slowly over a network).
// The picture on show then stays and the file is tried again when it changes.
// Each file has its own failure state: only a good read of that file ends it,
// and while the file keeps changing (its stamp differs from that of the
// previous failed attempt) it is still arriving and its second starts again.
// A file that has failed for a whole second without changing is read once
// more, and reported with that read's failure.
#pragma once

#include "PictureFile.h"
#include "PictureFormats.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QPixmap>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

class PictureBox;

class PictureLoader {
public:
    using Clock = std::chrono::steady_clock;
    using Now = std::function<Clock::time_point()>;

    static constexpr Clock::duration FailureGrace = std::chrono::seconds(1);
    static constexpr Clock::duration TrustAfter = std::chrono::seconds(2);
    // What one tick may spend reading and decoding a file (WorkShare): a few
    // milliseconds of this machine, and never more than fifteen of the
    // processor's time.
    static constexpr long long ShareUnits = 3'000'000;
    static constexpr std::chrono::nanoseconds ShareTime = std::chrono::milliseconds(15);

    explicit PictureLoader(Now now = Clock::now) : now_(std::move(now)) {}

    // Shows the picture file at path in box; returns whether the box now shows
    // another picture. Throws PictureError when the file has failed for
    // FailureGrace without changing, this read included.
    bool Show(const std::string& path, PictureBox& box);

private:
    // A read of one file and the decoding of its bytes, going on over ticks.
    struct Job {
        FileStamp seen;           // the stamp that started it
        Clock::time_point seenAt; // when
        std::unique_ptr<PictureFileReader> reader;
        QCryptographicHash hash{QCryptographicHash::Sha1};
        QByteArray digest;
        std::unique_ptr<PictureDecoder> decoder; // none: the bytes are those already shown
    };

    struct File {
        FileStamp stamp;             // of the read the picture came from
        Clock::time_point stampSeen; // when that stamp was first seen
        bool confirmed = false;      // read again once the stamp had held
        QByteArray digest;           // of the bytes the picture came from
        QPixmap picture;             // the decoded visible part; null before a good read
        FileStamp failedAttempt;     // the file as the last failed attempt found it
        std::optional<Clock::time_point> failingSince;
        std::unique_ptr<Job> job; // a read going on
    };

    enum class Progress { Unchanged, Loading, Loaded, LoadedLarge };

    // Brings file's picture up to date as far as a tick's share goes; attempt
    // is set to the file's stamp as far as it was taken.
    Progress Load(const std::string& path, File& file, Clock::time_point now, QSize visible,
                  FileStamp& attempt);
    static bool ReadDue(const File& file, const FileStamp& stamp, Clock::time_point now);
    // Runs job on within share; returns whether it is over.
    static bool Work(const std::string& path, const File& file, Job& job, QSize visible,
                     WorkShare& share);

    Now now_;
    std::map<std::string, File> files_; // one for each picture file, four at most
};
