// Keeps the picture box in step with a picture file, tick after tick.
//
// A steady picture costs one stat a tick: the file is read again only when its
// identity, size or times differ from those of the file the picture on show
// came from, or when it changed so recently that a further write might leave
// them as they are. The bytes read are decoded only when they differ from
// those on show.
//
// A file that cannot be read or decoded is often one being replaced (copied
// over in place, deleted and written anew). The picture on show then stays and
// the file is tried again on every tick that selects it; only when picture
// reads have kept failing for a whole second is the last failure raised.
#pragma once

#include "PictureFile.h"

#include <QByteArray>
#include <chrono>
#include <functional>
#include <optional>
#include <string>

class PictureBox;

class PictureLoader {
public:
    using Clock = std::chrono::steady_clock;
    using Now = std::function<Clock::time_point()>;

    static constexpr Clock::duration FailureGrace = std::chrono::seconds(1);

    explicit PictureLoader(Now now = Clock::now) : now_(std::move(now)) {}

    // Shows the picture file at path in box. Throws PictureError when picture
    // reads have been failing for FailureGrace, this one included.
    void Show(const std::string& path, PictureBox& box);

private:
    void Load(const std::string& path, PictureBox& box);

    Now now_;
    FileStamp shown_;                               // of the file the picture on show came from
    std::optional<Clock::time_point> failingSince_; // first failure of the current streak
    QByteArray bytes_;                              // scratch storage, reused tick after tick
};
