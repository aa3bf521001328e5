#include "PictureFormats.h"

#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

// libjpeg's header needs size_t and FILE declared before it.
#include <gif_lib.h>
#include <jpeglib.h>
// After jpeglib.h, which it needs.
#include <jerror.h>

namespace {

// What the work units charge for, measured on libjpeg-turbo 2.1.5 and giflib
// 5.2: a byte of a JPEG's data decoded in a single scan or in a progressive
// one (each coefficient is a few bits of it), a block of 8 x 8 gone over, a
// pixel of the visible part, a byte of markers before the picture, a byte of
// a GIF's extensions, a GIF pixel.
constexpr long long SingleScanByteCost = 20;
constexpr long long ProgressiveByteCost = 70;
constexpr long long BlockCost = 8;
constexpr long long ShownPixelCost = 8;
constexpr long long MarkerByteCost = 5;
constexpr long long ByteCost = 2;
constexpr long long GifPixelCost = 15;

// libjpeg is given the file this much at a time while it reads markers, so
// that a file made of nothing but markers is read a share at a time too.
constexpr std::size_t JpegChunk = std::size_t{64} * 1024;

std::string Pixels(long long width, long long height) {
    return std::to_string(width) + " x " + std::to_string(height) + " píxeles";
}

// The way out for a picture whose cost, which grows with its pixels, passes
// its bound: the same picture as a plain JPEG, or one small enough.
std::string WayOut(long long width, long long height, double cost, double bound) {
    const double scale = std::sqrt(bound / cost);
    return "; guárdela como JPEG normal o redúzcala a menos de " +
           Pixels(static_cast<long long>(static_cast<double>(width) * scale),
                  static_cast<long long>(static_cast<double>(height) * scale));
}

std::string Megabytes(double bytes) {
    return std::to_string(static_cast<long long>(std::ceil(bytes / (1024 * 1024)))) + " MB";
}

// ---------------------------------------------------------------- JPEG

// libjpeg reports a fatal error by calling error_exit, which must not return:
// it jumps back to the setjmp in JpegPicture::Run with the message kept here.
struct JpegErrors {
    jpeg_error_mgr manager{}; // first: libjpeg sees only this part
    std::jmp_buf jump{};
    char message[JMSG_LENGTH_MAX]{};
};

[[noreturn]] void JpegErrorExit(j_common_ptr info) {
    auto* errors = reinterpret_cast<JpegErrors*>(info->err);
    (*info->err->format_message)(info, errors->message);
    std::longjmp(errors->jump, 1);
}

// Warnings (a picture's data a little off) are counted by libjpeg and not
// printed.
void JpegQuiet(j_common_ptr /*info*/) {}

// Given to libjpeg where a file ends before its end marker.
const unsigned char EndOfImage[] = {0xFF, JPEG_EOI};

class JpegPicture final : public PictureDecoder::Format {
public:
    JpegPicture(const std::string& path, const QByteArray& bytes, QSize visible);
    ~JpegPicture() override { jpeg_destroy_decompress(&info_); }
    JpegPicture(const JpegPicture&) = delete;
    JpegPicture& operator=(const JpegPicture&) = delete;

    bool Decode(WorkShare& share) override;
    const QImage& Picture() const override { return image_; }

private:
    enum class Stage { Header, Start, Consume, Output, Rows, Skip, Finish, Done };
    // How a run of Run ended. Cut: libjpeg asked for more than the file has.
    enum class Outcome { Whole, Spent, Cut, Failed, NoPicture, TooBig, TooLong };

    // The source: the file's bytes, handed out a chunk at a time while the
    // source suspends (libjpeg then returns to its caller, and goes on where
    // it was once given more), or all the rest at once where libjpeg cannot
    // suspend (skipping rows).
    static void InitSource(j_decompress_ptr /*info*/) {}
    static boolean FillInput(j_decompress_ptr info);
    static void SkipInput(j_decompress_ptr info, long count);
    static void TermSource(j_decompress_ptr /*info*/) {}
    static JpegPicture& Of(j_decompress_ptr info) {
        return *static_cast<JpegPicture*>(info->client_data);
    }
    // Hands libjpeg more of the file; false when there is no more.
    bool GiveMore();
    // Charges share for the data libjpeg decoded since the last charge.
    void Charge(WorkShare& share);
    void Suspending(bool suspending);

    // The steps that call libjpeg, between its setjmp and the return. No
    // object with a destructor lives in its frame: libjpeg's errors jump out
    // of it.
    Outcome Run(WorkShare& share);
    bool Setup();
    void StartRows();
    void CopyRow(const unsigned char* row);

    std::string path_;
    QByteArray bytes_; // shared with the caller: never copied
    const unsigned char* data_;
    std::size_t size_;
    const unsigned char* limit_;   // how far libjpeg has been given the file
    const unsigned char* charged_; // how far its decoding has been charged for
    std::size_t skipped_ = 0;      // bytes libjpeg skipped since, at no cost
    bool suspending_ = true;
    bool cut_ = false; // the file ended where libjpeg wanted more
    QSize visible_;

    JpegErrors errors_;
    jpeg_source_mgr source_{};
    jpeg_decompress_struct info_{};
    Stage stage_ = Stage::Header;
    long long heldBytes_ = 0;  // what the decoder holds of a picture held whole
    long long scanBlocks_ = 0; // the blocks the scans so far went over
    int scans_ = 0;
    long long blocksPerRow_ = 0; // of the current scan, per row of blocks
    JDIMENSION fullWidth_ = 0;   // the picture's width before cropping
    std::vector<unsigned char> row_;
    QImage image_;
};

JpegPicture::JpegPicture(const std::string& path, const QByteArray& bytes, QSize visible)
    : path_(path), bytes_(bytes), data_(reinterpret_cast<const unsigned char*>(bytes_.constData())),
      size_(static_cast<std::size_t>(bytes_.size())), limit_(data_), charged_(data_),
      visible_(visible) {
    info_.err = jpeg_std_error(&errors_.manager);
    errors_.manager.error_exit = JpegErrorExit;
    errors_.manager.output_message = JpegQuiet;
    // Creating fails only for want of memory; libjpeg's error jumps back here.
    if (setjmp(errors_.jump) != 0) {
        throw PictureError(path, "no hay memoria para leer la imagen JPEG");
    }
    jpeg_create_decompress(&info_);
    info_.client_data = this;
    source_.init_source = InitSource;
    source_.fill_input_buffer = FillInput;
    source_.skip_input_data = SkipInput;
    source_.resync_to_restart = jpeg_resync_to_restart;
    source_.term_source = TermSource;
    source_.next_input_byte = data_;
    source_.bytes_in_buffer = 0;
    info_.src = &source_;
}

boolean JpegPicture::FillInput(j_decompress_ptr info) {
    JpegPicture& self = Of(info);
    if (self.suspending_) {
        return FALSE;
    }
    const unsigned char* end = self.data_ + self.size_;
    jpeg_source_mgr& source = self.source_;
    if (source.next_input_byte + source.bytes_in_buffer < end) {
        self.limit_ = end;
        source.bytes_in_buffer = static_cast<std::size_t>(end - source.next_input_byte);
        return TRUE;
    }
    // Out of data where libjpeg cannot wait for more: it is given an end
    // marker to finish on, and the file is known to be cut short.
    self.cut_ = true;
    source.next_input_byte = EndOfImage;
    source.bytes_in_buffer = sizeof EndOfImage;
    return TRUE;
}

void JpegPicture::SkipInput(j_decompress_ptr info, long count) {
    JpegPicture& self = Of(info);
    jpeg_source_mgr& source = self.source_;
    if (count <= 0) {
        return;
    }
    self.skipped_ += static_cast<std::size_t>(count);
    if (static_cast<std::size_t>(count) <= source.bytes_in_buffer) {
        source.next_input_byte += count;
        source.bytes_in_buffer -= static_cast<std::size_t>(count);
        return;
    }
    // Past what libjpeg was given: the skipped bytes are there already, or
    // the file ends within them.
    const unsigned char* end = self.data_ + self.size_;
    const bool inFile = source.next_input_byte >= self.data_ && source.next_input_byte <= end;
    const unsigned char* to = inFile ? source.next_input_byte : end;
    to = static_cast<std::size_t>(end - to) > static_cast<std::size_t>(count) ? to + count : end;
    self.limit_ = std::max(self.limit_, to);
    source.next_input_byte = to;
    source.bytes_in_buffer = static_cast<std::size_t>(self.limit_ - to);
    if (to == end && !self.suspending_) {
        self.cut_ = true;
    }
}

bool JpegPicture::GiveMore() {
    const unsigned char* end = data_ + size_;
    if (limit_ >= end || source_.next_input_byte < data_ || source_.next_input_byte > end) {
        return false;
    }
    const std::size_t more = std::min(JpegChunk, static_cast<std::size_t>(end - limit_));
    limit_ += more;
    source_.bytes_in_buffer = static_cast<std::size_t>(limit_ - source_.next_input_byte);
    return true;
}

void JpegPicture::Charge(WorkShare& share) {
    const unsigned char* at = source_.next_input_byte;
    if (at < charged_ || at > data_ + size_) {
        return; // on the end marker given in place of a missing end
    }
    const auto moved = static_cast<std::size_t>(at - charged_);
    const std::size_t decoded = moved > skipped_ ? moved - skipped_ : 0;
    const long long cost = stage_ == Stage::Header        ? MarkerByteCost
                           : info_.buffered_image == TRUE ? ProgressiveByteCost
                                                          : SingleScanByteCost;
    share.Spend(static_cast<long long>(decoded) * cost);
    charged_ = at;
    skipped_ = 0;
}

void JpegPicture::Suspending(bool suspending) {
    suspending_ = suspending;
    const unsigned char* end = data_ + size_;
    if (source_.next_input_byte < data_ || source_.next_input_byte > end) {
        return; // on the end marker given in place of a missing end
    }
    limit_ = suspending ? std::min(end, source_.next_input_byte + JpegChunk) : end;
    source_.bytes_in_buffer = static_cast<std::size_t>(limit_ - source_.next_input_byte);
}

// After the header: the colours asked for, and whether the decoder must hold
// the whole picture, within its bound.
bool JpegPicture::Setup() {
    // Qt's 32-bit RGB, in the byte order of this machine.
    const bool cmyk = info_.jpeg_color_space == JCS_CMYK || info_.jpeg_color_space == JCS_YCCK;
    info_.out_color_space =
        cmyk ? JCS_CMYK
             : (QSysInfo::ByteOrder == QSysInfo::LittleEndian ? JCS_EXT_BGRA : JCS_EXT_ARGB);
    fullWidth_ = info_.image_width;
    if (jpeg_has_multiple_scans(&info_) == FALSE) {
        return true;
    }
    // Progressive, or in several scans: the decoder keeps every block's
    // coefficients, in whole rows of its sampling, until the last scan.
    long long blocks = 0;
    for (int i = 0; i < info_.num_components; ++i) {
        const jpeg_component_info& component = info_.comp_info[i];
        const auto roundUp = [](long long count, int factor) {
            return (count + factor - 1) / factor * factor;
        };
        blocks += roundUp(component.width_in_blocks, component.h_samp_factor) *
                  roundUp(component.height_in_blocks, component.v_samp_factor);
    }
    heldBytes_ = blocks * static_cast<long long>(sizeof(JBLOCK)) + static_cast<long long>(size_);
    if (heldBytes_ > MaxHeldJpegBytes) {
        return false;
    }
    // The decoder's own bound, should any other allocation grow past it.
    info_.mem->max_memory_to_use = MaxHeldJpegBytes;
    info_.buffered_image = TRUE;
    return true;
}

void JpegPicture::StartRows() {
    // Only the columns shown are turned into pixels: libjpeg widens the crop
    // to whole blocks, and one more column keeps the smoothing of halved
    // colour at its right edge as in the whole picture.
    JDIMENSION left = 0;
    JDIMENSION width =
        std::min<JDIMENSION>(info_.output_width, static_cast<JDIMENSION>(visible_.width()) + 16);
    if (width > 0 && width < info_.output_width) {
        jpeg_crop_scanline(&info_, &left, &width);
    }
    const int shownWidth = std::min<int>(static_cast<int>(fullWidth_), visible_.width());
    const int shownHeight = std::min<int>(static_cast<int>(info_.output_height), visible_.height());
    image_ = QImage(std::max(shownWidth, 0), std::max(shownHeight, 0), QImage::Format_RGB32);
    row_.assign(static_cast<std::size_t>(info_.output_width) * 4, 0);
}

void JpegPicture::CopyRow(const unsigned char* row) {
    const auto y = static_cast<int>(info_.output_scanline) - 1;
    auto* line = reinterpret_cast<QRgb*>(image_.scanLine(y));
    if (info_.out_color_space != JCS_CMYK) {
        std::memcpy(line, row, static_cast<std::size_t>(image_.width()) * 4);
        return;
    }
    // Inverted CMYK, as Adobe writes it and as Qt shows it.
    for (int x = 0; x < image_.width(); ++x) {
        const unsigned char* pixel = row + std::ptrdiff_t{4} * x;
        const int k = pixel[3];
        line[x] = qRgb(k * pixel[0] / 255, k * pixel[1] / 255, k * pixel[2] / 255);
    }
}

JpegPicture::Outcome JpegPicture::Run(WorkShare& share) {
    if (setjmp(errors_.jump) != 0) {
        return Outcome::Failed;
    }
    for (;;) {
        if (stage_ == Stage::Done) {
            return cut_ ? Outcome::Cut : Outcome::Whole;
        }
        if (share.Spent()) {
            return Outcome::Spent;
        }
        bool suspended = false;
        switch (stage_) {
        case Stage::Header:
            switch (jpeg_read_header(&info_, FALSE)) {
            case JPEG_SUSPENDED:
                suspended = true;
                break;
            case JPEG_HEADER_OK:
                if (!Setup()) {
                    return Outcome::TooBig;
                }
                stage_ = Stage::Start;
                break;
            default: // tables only, no picture
                return Outcome::NoPicture;
            }
            break;
        case Stage::Start:
            if (jpeg_start_decompress(&info_) == FALSE) {
                suspended = true;
            } else if (info_.buffered_image == TRUE) {
                stage_ = Stage::Consume;
            } else {
                StartRows();
                Suspending(false);
                stage_ = Stage::Rows;
            }
            break;
        case Stage::Consume:
            switch (jpeg_consume_input(&info_)) {
            case JPEG_SUSPENDED:
                suspended = true;
                break;
            case JPEG_REACHED_SOS: {
                long long blocks = 0;
                for (int i = 0; i < info_.comps_in_scan; ++i) {
                    const jpeg_component_info* component = info_.cur_comp_info[i];
                    blocks += static_cast<long long>(component->width_in_blocks) *
                              component->height_in_blocks;
                }
                scanBlocks_ += blocks;
                ++scans_;
                blocksPerRow_ = blocks / std::max<JDIMENSION>(1, info_.total_iMCU_rows);
                if (scanBlocks_ > MaxJpegScanBlocks) {
                    return Outcome::TooLong;
                }
                break;
            }
            case JPEG_ROW_COMPLETED:
                share.Spend(blocksPerRow_ * BlockCost);
                break;
            case JPEG_REACHED_EOI:
                stage_ = Stage::Output;
                break;
            default:
                break;
            }
            break;
        case Stage::Output:
            // The input is all in: the final output pass cannot suspend.
            jpeg_start_output(&info_, info_.input_scan_number);
            StartRows();
            stage_ = Stage::Rows;
            break;
        case Stage::Rows:
            if (info_.output_scanline < static_cast<JDIMENSION>(image_.height())) {
                JSAMPROW row = row_.data();
                jpeg_read_scanlines(&info_, &row, 1);
                CopyRow(row_.data());
                // The row's pixels, and its share of the whole width's blocks.
                share.Spend(static_cast<long long>(info_.output_width) * ShownPixelCost +
                            static_cast<long long>(fullWidth_) * info_.num_components * BlockCost /
                                64);
            } else if (info_.buffered_image == TRUE) {
                jpeg_finish_output(&info_);
                stage_ = Stage::Finish;
            } else {
                stage_ = Stage::Skip;
            }
            break;
        case Stage::Skip:
            // The rest of a single scan is decoded only to reach its end, a
            // band of rows at a time.
            if (info_.output_scanline < info_.output_height) {
                const JDIMENSION rows = std::max<JDIMENSION>(16, 1'000'000 / fullWidth_);
                const JDIMENSION left = info_.output_height - info_.output_scanline;
                const JDIMENSION skipped = jpeg_skip_scanlines(&info_, std::min(rows, left));
                share.Spend(static_cast<long long>(skipped) * fullWidth_ * info_.num_components /
                            64 * BlockCost);
            } else {
                Suspending(true);
                stage_ = Stage::Finish;
            }
            break;
        case Stage::Finish:
            if (jpeg_finish_decompress(&info_) == FALSE) {
                suspended = true;
            } else {
                stage_ = Stage::Done;
            }
            break;
        case Stage::Done:
            break;
        }
        Charge(share);
        if (suspended && !GiveMore()) {
            return Outcome::Cut;
        }
    }
}

bool JpegPicture::Decode(WorkShare& share) {
    const auto damaged = [this](const std::string& what) {
        return PictureError(path_, "los datos de la imagen JPEG están dañados" + what);
    };
    const auto kind = [this] {
        return std::string(info_.progressive_mode == TRUE ? "progresiva" : "en varios barridos");
    };
    switch (Run(share)) {
    case Outcome::Whole:
        return true;
    case Outcome::Spent:
        return false;
    case Outcome::Cut:
        throw PictureError(path_,
                           "la imagen JPEG está incompleta: el archivo se corta antes de su final");
    case Outcome::TooBig:
        throw PictureError(
            path_,
            "es una imagen JPEG " + kind() + " de " +
                Pixels(info_.image_width, info_.image_height) + ": leerla ocuparía " +
                Megabytes(static_cast<double>(heldBytes_)) + ", más de los " +
                Megabytes(static_cast<double>(MaxHeldJpegBytes)) + " que admite la consola" +
                WayOut(info_.image_width, info_.image_height, static_cast<double>(heldBytes_),
                       static_cast<double>(MaxHeldJpegBytes)));
    case Outcome::TooLong:
        throw PictureError(path_, "es una imagen JPEG " + kind() + " de " +
                                      Pixels(info_.image_width, info_.image_height) + " en " +
                                      std::to_string(scans_) +
                                      " barridos o más: leerla supone recorrer más de " +
                                      std::to_string(MaxJpegScanBlocks / 1'000'000) +
                                      " millones de bloques, lo más que admite la consola" +
                                      WayOut(info_.image_width, info_.image_height,
                                             static_cast<double>(scanBlocks_),
                                             static_cast<double>(MaxJpegScanBlocks)));
    case Outcome::NoPicture:
        throw damaged(": no contiene ninguna imagen, solo tablas");
    case Outcome::Failed:
        break;
    }
    switch (errors_.manager.msg_code) {
    case JERR_SOF_DUPLICATE:
        throw damaged(": tiene más de una cabecera de imagen");
    case JERR_IMAGE_TOO_BIG:
    case JERR_WIDTH_OVERFLOW:
        throw PictureError(path_, "la imagen JPEG mide más de 65500 píxeles de lado, lo más que "
                                  "lee la consola; redúzcala");
    case JERR_OUT_OF_MEMORY:
    case JERR_NO_BACKING_STORE:
        throw PictureError(path_, "leer la imagen JPEG ocuparía más de " +
                                      Megabytes(static_cast<double>(MaxHeldJpegBytes)) +
                                      ", lo más que admite la consola; guárdela como JPEG normal "
                                      "o redúzcala");
    default:
        throw damaged(std::string(" (") + errors_.message + ")");
    }
}

// ---------------------------------------------------------------- GIF

class GifPicture final : public PictureDecoder::Format {
public:
    GifPicture(const std::string& path, const QByteArray& bytes, QSize visible)
        : path_(path), bytes_(bytes), visible_(visible) {}
    ~GifPicture() override {
        if (gif_ != nullptr) {
            int ignored = 0;
            DGifCloseFile(gif_, &ignored);
        }
    }
    GifPicture(const GifPicture&) = delete;
    GifPicture& operator=(const GifPicture&) = delete;

    bool Decode(WorkShare& share) override;
    const QImage& Picture() const override { return image_; }

private:
    enum class Stage { Open, Records, Lines, Rest, Done };

    static int Read(GifFileType* gif, GifByteType* to, int wanted);
    [[noreturn]] void Fail(int error) const;
    void Records(WorkShare& share);
    void StartFrame();
    void Line(WorkShare& share);
    bool ReachesTrailer(std::size_t at) const;

    std::string path_;
    QByteArray bytes_;
    std::size_t at_ = 0; // how far giflib has read
    QSize visible_;
    GifFileType* gif_ = nullptr;
    Stage stage_ = Stage::Open;
    int transparent_ = -1; // the colour index shown transparent, if any
    int line_ = 0;         // lines of the frame decoded so far
    std::vector<GifPixelType> row_;
    QImage image_;
};

int GifPicture::Read(GifFileType* gif, GifByteType* to, int wanted) {
    auto& self = *static_cast<GifPicture*>(gif->UserData);
    const std::size_t left = static_cast<std::size_t>(self.bytes_.size()) - self.at_;
    const std::size_t count = std::min(left, static_cast<std::size_t>(std::max(wanted, 0)));
    std::memcpy(to, self.bytes_.constData() + self.at_, count);
    self.at_ += count;
    return static_cast<int>(count);
}

void GifPicture::Fail(int error) const {
    // giflib runs out of data also where the file is whole but a frame's
    // data ends before its pixels: its structure tells the two apart.
    const bool outOfData = error == D_GIF_ERR_READ_FAILED || error == D_GIF_ERR_EOF_TOO_SOON;
    if (outOfData && ReachesTrailer(0)) {
        error = D_GIF_ERR_IMAGE_DEFECT;
    }
    switch (error) {
    case D_GIF_ERR_READ_FAILED:
    case D_GIF_ERR_EOF_TOO_SOON:
        throw PictureError(path_,
                           "la imagen GIF está incompleta: el archivo se corta antes de su final");
    case D_GIF_ERR_NOT_GIF_FILE:
        throw PictureError(path_, "el archivo no es una imagen JPEG ni GIF");
    default: {
        const char* what = GifErrorString(error);
        throw PictureError(path_, std::string("los datos de la imagen GIF están dañados (") +
                                      (what != nullptr ? what : "?") + ")");
    }
    }
}

void GifPicture::Records(WorkShare& share) {
    GifRecordType type = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(gif_, &type) == GIF_ERROR) {
        Fail(gif_->Error);
    }
    if (type == IMAGE_DESC_RECORD_TYPE) {
        if (DGifGetImageDesc(gif_) == GIF_ERROR) {
            Fail(gif_->Error);
        }
        StartFrame();
        return;
    }
    if (type == EXTENSION_RECORD_TYPE) {
        int code = 0;
        GifByteType* data = nullptr;
        if (DGifGetExtension(gif_, &code, &data) == GIF_ERROR) {
            Fail(gif_->Error);
        }
        // The graphic control extension before the frame says which colour,
        // if any, is transparent.
        if (code == GRAPHICS_EXT_FUNC_CODE && data != nullptr && data[0] >= 4) {
            transparent_ = (data[1] & 0x01) != 0 ? data[4] : -1;
        }
        while (data != nullptr) {
            share.Spend(256 * ByteCost);
            if (DGifGetExtensionNext(gif_, &data) == GIF_ERROR) {
                Fail(gif_->Error);
            }
        }
        return;
    }
    if (type == TERMINATE_RECORD_TYPE) {
        throw PictureError(path_,
                           "los datos de la imagen GIF están dañados: no tiene ningún cuadro");
    }
    Fail(D_GIF_ERR_WRONG_RECORD);
}

// The first frame is drawn at its place on the logical screen; a frame that
// reaches past the screen widens it, as browsers do. The rest of the screen
// is transparent.
void GifPicture::StartFrame() {
    const GifImageDesc& frame = gif_->Image;
    const qint64 pixels = static_cast<qint64>(frame.Width) * frame.Height;
    if (pixels > MaxGifPixels) {
        throw PictureError(path_, "es una imagen GIF de " + Pixels(frame.Width, frame.Height) +
                                      ", más de los " + Pixels(4096, 4096) +
                                      " que admite la consola" +
                                      WayOut(frame.Width, frame.Height, static_cast<double>(pixels),
                                             static_cast<double>(MaxGifPixels)));
    }
    if (frame.ColorMap == nullptr && gif_->SColorMap == nullptr) {
        throw PictureError(path_, "los datos de la imagen GIF están dañados: no tiene colores");
    }
    const int width = std::max(gif_->SWidth, frame.Left + frame.Width);
    const int height = std::max(gif_->SHeight, frame.Top + frame.Height);
    if (width <= 0 || height <= 0) {
        throw PictureError(path_, "los datos de la imagen GIF están dañados: no tiene tamaño");
    }
    image_ = QImage(std::min(width, visible_.width()), std::min(height, visible_.height()),
                    QImage::Format_ARGB32);
    image_.fill(Qt::transparent);
    row_.assign(static_cast<std::size_t>(std::max(frame.Width, 1)), 0);
    stage_ = frame.Height > 0 ? Stage::Lines : Stage::Rest;
}

// One line of the frame; an interlaced frame comes in four passes, every
// eighth line from the first, every eighth from the fifth, every fourth from
// the third, every second from the second.
void GifPicture::Line(WorkShare& share) {
    const GifImageDesc& frame = gif_->Image;
    if (DGifGetLine(gif_, row_.data(), frame.Width) == GIF_ERROR) {
        Fail(gif_->Error);
    }
    share.Spend(static_cast<long long>(frame.Width) * GifPixelCost);
    int y = line_;
    if (frame.Interlace) {
        const int height = frame.Height;
        const int passes[4][2] = {{0, 8}, {4, 8}, {2, 4}, {1, 2}};
        int index = line_;
        for (const auto& [first, step] : passes) {
            const int count = first < height ? (height - first + step - 1) / step : 0;
            if (index < count) {
                y = first + index * step;
                break;
            }
            index -= count;
        }
    }
    ++line_;
    if (line_ >= frame.Height) {
        stage_ = Stage::Rest;
    }
    const int top = frame.Top + y;
    if (top >= image_.height()) {
        return;
    }
    const ColorMapObject* map = frame.ColorMap != nullptr ? frame.ColorMap : gif_->SColorMap;
    auto* line = reinterpret_cast<QRgb*>(image_.scanLine(top));
    const int shown = std::min(frame.Width, image_.width() - frame.Left);
    for (int x = 0; x < shown; ++x) {
        const int index = row_[static_cast<std::size_t>(x)];
        if (index == transparent_) {
            continue;
        }
        const GifColorType colour = index < map->ColorCount ? map->Colors[index] : GifColorType{};
        line[frame.Left + x] = qRgb(colour.Red, colour.Green, colour.Blue);
    }
}

// Whether the blocks from at on lead to the trailer byte: more blocks, an
// extension or a frame, each with its chain of data sub-blocks. From 0, the
// walk starts past the header, the logical screen and its colour table.
bool GifPicture::ReachesTrailer(std::size_t at) const {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes_.constData());
    const auto end = static_cast<std::size_t>(bytes_.size());
    const auto colourTable = [](unsigned char flags) -> std::size_t {
        return (flags & 0x80) != 0 ? 3 * (std::size_t{2} << (flags & 0x07)) : 0;
    };
    const auto subBlocks = [&](std::size_t& from) {
        while (from < end) {
            const std::size_t length = data[from++];
            if (length == 0) {
                return true;
            }
            from += length;
        }
        return false;
    };
    if (at == 0) {
        if (end < 13) {
            return false;
        }
        at = 13 + colourTable(data[10]);
    }
    while (at < end) {
        switch (data[at++]) {
        case 0x3B:
            return true;
        case 0x21: // extension: label, then its data
            if (!subBlocks(++at)) {
                return false;
            }
            break;
        case 0x2C: // frame: descriptor, local colour table, code size, data
            if (end - at < 10) {
                return false;
            }
            at += 9 + colourTable(data[at + 8]) + 1;
            if (!subBlocks(at)) {
                return false;
            }
            break;
        default:
            Fail(D_GIF_ERR_WRONG_RECORD);
        }
    }
    return false;
}

bool GifPicture::Decode(WorkShare& share) {
    while (stage_ != Stage::Done) {
        if (share.Spent()) {
            return false;
        }
        switch (stage_) {
        case Stage::Open: {
            int error = 0;
            gif_ = DGifOpen(this, Read, &error);
            if (gif_ == nullptr) {
                Fail(error);
            }
            stage_ = Stage::Records;
            break;
        }
        case Stage::Records:
            Records(share);
            break;
        case Stage::Lines:
            Line(share);
            break;
        case Stage::Rest:
            // What follows the first frame is only walked.
            if (!ReachesTrailer(at_)) {
                Fail(D_GIF_ERR_READ_FAILED);
            }
            stage_ = Stage::Done;
            break;
        case Stage::Done:
            break;
        }
    }
    return true;
}

} // namespace

std::chrono::nanoseconds WorkShare::ThreadTime() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

PictureDecoder::PictureDecoder(const std::string& path, const QByteArray& bytes, QSize visible) {
    if (bytes.isEmpty()) {
        throw PictureError(path, "el archivo está vacío");
    }
    if (bytes.startsWith("\xFF\xD8")) {
        format_ = std::make_unique<JpegPicture>(path, bytes, visible);
    } else if (bytes.startsWith("GIF8")) {
        format_ = std::make_unique<GifPicture>(path, bytes, visible);
    } else {
        throw PictureError(path, "el archivo no es una imagen JPEG ni GIF");
    }
}

PictureDecoder::~PictureDecoder() = default;

bool PictureDecoder::Decode(WorkShare& share) {
    return format_->Decode(share);
}

const QImage& PictureDecoder::Picture() const {
    return format_->Picture();
}

QImage DecodePicture(const std::string& path, const QByteArray& bytes, QSize visible) {
    PictureDecoder decoder(path, bytes, visible);
    WorkShare share = WorkShare::Unbounded();
    decoder.Decode(share);
    return decoder.Picture();
}
