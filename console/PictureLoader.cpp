#include "PictureLoader.h"

#include "PictureBox.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

// A read of the file takes this much at a time between looks at the share.
constexpr qint64 ReadChunk = qint64{256} * 1024;
// Reading a byte and taking its digest, in work units.
constexpr long long ReadByteCost = 2;

} // namespace

bool PictureLoader::Show(const std::string& path, PictureBox& box) {
    File& file = files_[path];
    const Clock::time_point now = now_();
    FileStamp attempt;
    Progress progress = Progress::Unchanged;
    try {
        progress = Load(path, file, now, box.contentsRect().size(), attempt);
    } catch (const PictureError&) {
        const bool held = file.job != nullptr;
        file.job.reset();
#ifdef __GLIBC__
        if (held) {
            ::malloc_trim(0); // what a refused picture took goes back too
        }
#endif
        if (!file.failingSince || attempt != file.failedAttempt) {
            file.failingSince = now;
            file.failedAttempt = attempt;
        }
        if (now - *file.failingSince >= FailureGrace) {
            throw;
        }
        return false;
    }
    if (progress == Progress::Loaded || progress == Progress::LoadedLarge) {
        file.failingSince.reset();
    }
    // A file failing is waited for, and one being read for the first time
    // has nothing to show yet: the picture on show stays.
    if (file.failingSince || file.picture.isNull()) {
        return false;
    }
    const bool replaced = box.Picture().cacheKey() != file.picture.cacheKey();
    if (replaced) {
        box.SetPicture(file.picture);
    }
#ifdef __GLIBC__
    // The file's bytes and the picture replaced are gone by now; glibc keeps
    // what they took unless asked to give it back.
    if (progress == Progress::LoadedLarge) {
        ::malloc_trim(0);
    }
#endif
    return replaced;
}

bool PictureLoader::ReadDue(const File& file, const FileStamp& stamp, Clock::time_point now) {
    if (file.failingSince) {
        return stamp != file.failedAttempt || now - *file.failingSince >= FailureGrace;
    }
    if (file.picture.isNull() || stamp != file.stamp) {
        return true;
    }
    return !file.confirmed && now - file.stampSeen >= TrustAfter;
}

PictureLoader::Progress PictureLoader::Load(const std::string& path, File& file,
                                            Clock::time_point now, QSize visible,
                                            FileStamp& attempt) {
    attempt = StampPictureFile(path);
    if (file.job && attempt != file.job->seen) {
        file.job.reset(); // changed under the read: read anew
    }
    if (!file.job) {
        if (!ReadDue(file, attempt, now)) {
            return Progress::Unchanged;
        }
        file.job = std::make_unique<Job>();
        file.job->seen = attempt;
        file.job->seenAt = now;
    }
    Job& job = *file.job;
    WorkShare share(ShareUnits, ShareTime);
    const bool over = Work(path, file, job, visible, share);
    attempt = job.reader->Stamp();
    if (!over) {
        return Progress::Loading;
    }
    const bool decoded = job.decoder != nullptr;
    if (decoded) {
        file.picture = QPixmap::fromImage(job.decoder->Picture());
        file.digest = job.digest;
    }
    // Only a good read moves the stamp on: a file that failed is read again.
    if (job.reader->Stamp() != file.stamp) {
        file.stamp = job.reader->Stamp();
        file.stampSeen = job.seenAt;
        file.confirmed = false;
    } else if (now - file.stampSeen >= TrustAfter) {
        file.confirmed = true;
    }
    constexpr qsizetype LargeFile = qsizetype{1024} * 1024;
    const bool large = decoded || job.reader->Bytes().size() >= LargeFile;
    file.job.reset();
    return large ? Progress::LoadedLarge : Progress::Loaded;
}

bool PictureLoader::Work(const std::string& path, const File& file, Job& job, QSize visible,
                         WorkShare& share) {
    if (!job.reader) {
        job.reader = std::make_unique<PictureFileReader>(path);
    }
    while (!job.reader->Done()) {
        if (share.Spent()) {
            return false;
        }
        const qint64 from = job.reader->Length();
        const qint64 got = job.reader->ReadOn(ReadChunk);
        job.hash.addData(QByteArrayView(job.reader->Bytes().constData() + from, got));
        share.Spend(got * ReadByteCost);
    }
    if (job.digest.isEmpty()) {
        job.digest = job.hash.result();
        if (!file.picture.isNull() && job.digest == file.digest) {
            return true; // the bytes the picture on show came from
        }
        job.decoder = std::make_unique<PictureDecoder>(path, job.reader->Bytes(), visible);
    }
    return job.decoder->Decode(share);
}
