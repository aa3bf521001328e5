// Fuzzes what a tick does with data from outside: the two status readings the
// board returns, and the bytes of the picture file they select.
//   bytes 0-3: the two readings as the library returned them (low 16 bits kept)
//   the rest:  the picture file's contents
// A tick may refuse a file with PictureError; anything else (a crash, another
// exception, a picture larger than the picture box) is a fault.
#include "ConsoleWindow.h"
#include "LampPictures.h"
#include "Module1_Velantro.h"
#include "PictureFormats.h"

#include <QCoreApplication>
#include <cstdint>
#include <cstdlib>
#include <cstring>

using namespace Module1_Velantro;

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication application(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) {
        return 0;
    }
    std::int16_t first = 0;
    std::int16_t second = 0;
    std::memcpy(&first, data, 2);
    std::memcpy(&second, data + 2, 2);
    const InputCodes codes = DecodeReadings({first, second});
    if (codes.InputCode < 0 || codes.InputCode > 15 || codes.SecondCode < 0 ||
        codes.SecondCode > 15 || codes.CombinedCode != codes.SecondCode * 16 + codes.InputCode) {
        std::abort();
    }
    const char* file = PictureFileFor(codes.InputCode);
    if ((file == nullptr) != (codes.InputCode >= 8)) {
        std::abort();
    }
    if (file == nullptr) {
        return 0;
    }

    const QByteArray bytes(reinterpret_cast<const char*>(data + 4),
                           static_cast<qsizetype>(size - 4));
    try {
        // The picture box's inner area at 96 dpi, decoded in small shares
        // as a tick does, so that every suspension is gone through.
        const QSize visible = testsupport::controls::PictureArea.size();
        PictureDecoder decoder(file, bytes, visible);
        for (;;) {
            WorkShare share(100'000, std::chrono::hours(1));
            if (decoder.Decode(share)) {
                break;
            }
        }
        const QImage& image = decoder.Picture();
        if (image.isNull() || image.width() > visible.width() ||
            image.height() > visible.height()) {
            std::abort();
        }
    } catch (const PictureError&) {
    }
    return 0;
}
