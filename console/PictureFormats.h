// The picture formats the console shows, JPEG and GIF: how far a file's
// structure reaches, what it may cost to decode, and the decoding itself.
#pragma once

#include "PictureFile.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <string>

// Largest picture decoded whole: a GIF is always decoded onto its whole canvas,
// and a JPEG the decoder must hold whole (progressive, arithmetic-coded, in
// several scans, or a scan without every component) has its coefficients
// kept until its last scan, so a file declaring more is refused before its
// pixels are allocated. Any other JPEG is decoded only as far as the visible
// part reaches. Two million pixels (1600 x 1200 fit) take about a tenth of a
// second to decode as a GIF.
constexpr int MaxPicturePixels = 2 * 1024 * 1024;

// A JPEG held whole by the decoder keeps 128 bytes for each 8 x 8 block of
// each component, goes over the blocks of each scan's components once for
// every scan, and decodes every byte: each is bounded so that no such picture
// costs more than about a tenth of a second. A progressive photo of 1600 x
// 1200 pixels passes, whether its colour is halved or kept whole.
constexpr long long MaxHeldJpegBlocks = 250'000;
constexpr long long MaxHeldJpegScanBlocks = 400'000;
constexpr qsizetype MaxHeldJpegBytes = qsizetype{1024} * 1024;

// Most marker segments a JPEG may carry before its first scan. Cameras and
// editors write a few dozen at most; the decoder's time grows faster than
// their number.
constexpr int MaxJpegHeaderSegments = 1000;

// Bounds what Qt's image decoders may allocate, process-wide, to what the
// largest picture held whole needs. Called once at start-up, before the first
// decode.
void LimitPictureDecoding();

// Decodes JPEG or GIF bytes, told apart by their content, as far as the
// top-left visible pixels reach: the picture box shows no more of them. path
// is only for the message. The checks here give the reason for the common
// cases; the limit set by LimitPictureDecoding stops any other way of
// declaring more (a GIF's canvas can grow past both its screen and its first
// frame). Throws PictureError.
QImage DecodePicture(const std::string& path, const QByteArray& bytes, QSize visible);
