// The picture formats the console shows, JPEG (libjpeg-turbo) and GIF
// (giflib): what a picture may cost, and decoding its visible part a share at
// a time, so that a big picture never stops the console's ticks.
#pragma once

#include "PictureFile.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <chrono>
#include <memory>
#include <string>

// A JPEG the decoder must hold whole (progressive, or in several scans) keeps
// 128 bytes for each 8 x 8 block of each component until its last scan, while
// the file's bytes are held too: both together may take this much. A
// progressive photo of 4000 x 3000 pixels passes in any chroma subsampling.
constexpr qint64 MaxHeldJpegBytes = qint64{90} * 1024 * 1024;

// The blocks each scan of such a JPEG goes over, summed over its scans: what
// decoding it costs. Ten scans of a 4000 x 3000 photo in full colour go over
// about 2.3 million; a file may take eight times that.
constexpr long long MaxJpegScanBlocks = 20'000'000;

// Largest first frame of a GIF, in pixels: each is decoded, whichever part
// of the frame is shown.
constexpr qint64 MaxGifPixels = qint64{4096} * 4096;

// What one tick may spend on a picture: work units, each about a nanosecond
// of this machine's time, so that the same file takes the same ticks on every
// run; and a limit of the thread's processor time besides, for a slower
// machine (time the thread waits for the processor is not counted: it would
// make the ticks a file takes depend on the machine's load).
class WorkShare {
public:
    WorkShare(long long units, std::chrono::nanoseconds most)
        : left_(units), deadline_(ThreadTime() + most) {}

    // A share without bound: the whole picture at once.
    static WorkShare Unbounded() { return {1LL << 62, std::chrono::hours(24)}; }

    void Spend(long long units) { left_ -= units; }
    bool Spent() const { return left_ <= 0 || ThreadTime() >= deadline_; }

private:
    static std::chrono::nanoseconds ThreadTime();

    long long left_;
    std::chrono::nanoseconds deadline_;
};

// Decodes the top-left part of a JPEG or GIF, told apart by their content, as
// far as visible reaches, and checks that the file is whole: that its
// structure leads to its end marker. Whatever follows that marker is not part
// of the picture and is ignored. path is only for the messages.
class PictureDecoder {
public:
    PictureDecoder(const std::string& path, const QByteArray& bytes, QSize visible);
    ~PictureDecoder();
    PictureDecoder(const PictureDecoder&) = delete;
    PictureDecoder& operator=(const PictureDecoder&) = delete;

    // Decodes on until the picture is whole (true) or share is spent (false).
    // Throws PictureError for a file that is cut short, damaged, or more than
    // the bounds above.
    bool Decode(WorkShare& share);

    // The visible part, once Decode has returned true.
    const QImage& Picture() const;

    // The decoder of one format.
    class Format {
    public:
        virtual ~Format() = default;
        virtual bool Decode(WorkShare& share) = 0;
        virtual const QImage& Picture() const = 0;
    };

private:
    std::unique_ptr<Format> format_;
};

// The whole decoding at once. Throws PictureError.
QImage DecodePicture(const std::string& path, const QByteArray& bytes, QSize visible);
