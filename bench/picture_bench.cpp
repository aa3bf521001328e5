// What a picture file costs the console, from reading it to its decoded
// visible part, and whether the memory of a big picture goes back.
//   picture_bench DIR            makes the crafted files and camera-sized photos
//                                in DIR and measures each in a process of its own
//   picture_bench --one FILE     one file: outcome, time, peak memory added
//   picture_bench --back BIG SMALL
//                                resident memory with SMALL shown, with BIG shown
//                                in its place, and with SMALL back again
#include "PictureBox.h"
#include "PictureLoader.h"
#include "gifwriter.h"

#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <QRandomGenerator>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// A field of /proc/self/status, in kB.
long StatusKb(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0) {
            return std::stol(line.substr(key.size()));
        }
    }
    return -1;
}

void ResetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

void Save(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// A photo-like picture: smooth shades with grain, which compresses as a
// camera's pictures do.
QImage Photo(QSize size) {
    QImage image(size, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < size.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            const int grain = static_cast<int>(random.bounded(48));
            line[x] = qRgb((x * 255 / size.width() + grain) & 0xFF,
                           (y * 255 / size.height() + grain) & 0xFF, (x + y + grain) & 0xFF);
        }
    }
    return image;
}

std::string Encode(const QImage& image, const char* format, int quality = 92,
                   bool progressive = false) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    writer.setProgressiveScanWrite(progressive);
    writer.write(image);
    return bytes.toStdString();
}

// A marker segment: the marker, its length and its contents.
std::string Segment(unsigned char code, const std::string& contents) {
    const std::size_t length = contents.size() + 2;
    return std::string{'\xFF', static_cast<char>(code), static_cast<char>(length >> 8),
                       static_cast<char>(length & 0xFF)} +
           contents;
}

std::string Frame(unsigned char code, int width, int height, int components) {
    std::string contents{8,
                         static_cast<char>(height >> 8),
                         static_cast<char>(height & 0xFF),
                         static_cast<char>(width >> 8),
                         static_cast<char>(width & 0xFF),
                         static_cast<char>(components)};
    for (int c = 1; c <= components; ++c) {
        contents += {static_cast<char>(c), '\x11', '\0'};
    }
    return Segment(code, contents);
}

// Tables that give every coefficient the one-bit code 0, and a scan of
// components whose data is zero bits: every block decodes as flat grey.
std::string Tables() {
    std::string table(1 + 16 + 1, '\0');
    table[1] = 1; // one code of length 1, for symbol 0
    const std::string dc = table;
    table[0] = 0x10;
    return Segment(0xDB, std::string(65, '\x01').replace(0, 1, 1, '\0')) +
           Segment(0xC4, dc + table);
}

std::string Scan(int components, std::size_t dataBytes) {
    std::string contents{static_cast<char>(components)};
    for (int c = 1; c <= components; ++c) {
        contents += {static_cast<char>(c), '\0'};
    }
    contents += {'\0', '\x3F', '\0'};
    return Segment(0xDA, contents) + std::string(dataBytes, '\0');
}

const std::string Start = "\xFF\xD8";
const std::string End = "\xFF\xD9";

std::string Comments(int count) {
    std::string all;
    for (int i = 0; i < count; ++i) {
        all += Segment(0xFE, "x");
    }
    return all;
}

// A GIF of the given size in 256 colours at random: the hardest there is to
// decode at that size.
std::string Gif(QSize size) {
    artgen::IndexedImage image;
    image.width = size.width();
    image.height = size.height();
    image.palette = artgen::CubePalette();
    image.pixels.resize(static_cast<std::size_t>(image.width) * image.height);
    QRandomGenerator random(7);
    for (auto& pixel : image.pixels) {
        pixel = static_cast<std::uint8_t>(random.bounded(256U));
    }
    return artgen::EncodeGif(image).toStdString();
}

struct Made {
    std::string name;
    std::string what;
};

std::vector<Made> MakeFiles(const fs::path& dir) {
    const QImage photo = Photo({6000, 4000});
    std::vector<Made> made = {
        {"partial-scan.jpg", "frame 32768 x 32768 in 3 components, one scan of one"},
        {"two-frames.jpg", "an 8 x 8 frame and its scan, then a 16384 x 16384 progressive frame"},
        {"comments-60000.jpg", "60,000 comment segments before the frame"},
        {"comments-200000.jpg", "200,000 comment segments before the frame"},
        {"comments-997.jpg", "997 comment segments and 3 tables: the most admitted"},
        {"photo-6000x4000.jpg", "camera-sized photo, baseline, quality 92"},
        {"photo-6000x4000-progressive.jpg", "the same, progressive"},
        {"photo-4096x4096-progressive.jpg", "progressive"},
        {"photo-2048x2048-progressive.jpg", "progressive"},
        {"photo-1600x1200-progressive.jpg", "progressive, quality 90"},
        {"photo-8000x5000-q100.jpg", "baseline, quality 100"},
        {"photo-4000x3000-q100.jpg", "baseline, quality 100, near the largest file admitted"},
        {"gif-4096x4096.gif", "GIF"},
        {"gif-1600x1200.gif", "GIF, near the largest admitted"},
        {"rojo-16k.jpg", "the delivered red picture"},
    };
    Save(dir / made[0].name, Start + Tables() + Frame(0xC0, 32768, 32768, 3) + Scan(1, 64) + End);
    Save(dir / made[1].name, Start + Tables() + Frame(0xC0, 8, 8, 3) + Scan(3, 8) +
                                 Frame(0xC2, 16384, 16384, 3) + Scan(1, 64) + End);
    const std::string small = Start + Tables() + Frame(0xC0, 8, 8, 3) + Scan(3, 8) + End;
    Save(dir / made[2].name, Start + Comments(60000) + small.substr(2));
    Save(dir / made[3].name, Start + Comments(200000) + small.substr(2));
    Save(dir / made[4].name, Start + Comments(997) + small.substr(2));
    Save(dir / made[5].name, Encode(photo, "JPEG"));
    Save(dir / made[6].name, Encode(photo, "JPEG", 92, true));
    Save(dir / made[7].name, Encode(Photo({4096, 4096}), "JPEG", 92, true));
    Save(dir / made[8].name, Encode(Photo({2048, 2048}), "JPEG", 92, true));
    Save(dir / made[9].name, Encode(Photo({1600, 1200}), "JPEG", 90, true));
    Save(dir / made[10].name, Encode(Photo({8000, 5000}), "JPEG", 100));
    Save(dir / made[11].name, Encode(Photo({4000, 3000}), "JPEG", 100));
    Save(dir / made[12].name, Gif({4096, 4096}));
    Save(dir / made[13].name, Gif({1600, 1200}));
    fs::copy_file(PICTURES_DIR "/rojo.jpg", dir / made[14].name,
                  fs::copy_options::overwrite_existing);
    return made;
}

// One file: read and decoded as the console does, five times; the fastest
// time and the peak memory added over the resident size before.
int One(const std::string& path) {
    LimitPictureDecoding();
    QByteArray bytes;
    try { // the decoders' plugins are loaded before measuring
        ReadPictureFile(PICTURES_DIR "/velantro.gif", bytes);
        DecodePicture("", bytes, {245, 517});
    } catch (const PictureError&) {
    }
    bytes = QByteArray();
    std::string outcome;
    double fastest = 1e9;
    long peak = 0;
    for (int round = 0; round < 5; ++round) {
        const long before = StatusKb("VmRSS");
        ResetPeak();
        const auto start = std::chrono::steady_clock::now();
        try {
            QByteArray file;
            ReadPictureFile(path, file);
            const QImage image = DecodePicture(path, file, {245, 517});
            outcome = "shown";
        } catch (const PictureError& error) {
            outcome = error.what();
            outcome = "refused: " + outcome.substr(outcome.rfind(": ") + 2);
        }
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        fastest = std::min(fastest, took.count());
        peak = std::max(peak, StatusKb("VmHWM") - before);
    }
    std::printf("%.1f ms | %.1f MB | %s\n", fastest, static_cast<double>(peak) / 1024,
                outcome.c_str());
    return 0;
}

int Back(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    LimitPictureDecoding();
    const fs::path dir = fs::temp_directory_path() / "picture_bench_back";
    fs::create_directories(dir);
    const fs::path shown = dir / "rojo.jpg";
    PictureBox box(nullptr);
    box.resize(249, 521);
    PictureLoader loader;
    const auto show = [&](const char* file) {
        fs::copy_file(file, shown, fs::copy_options::overwrite_existing);
        loader.Show(shown.string(), box);
        return StatusKb("VmRSS");
    };
    const long small = show(argv[3]);
    const long big = show(argv[2]);
    const long after = show(argv[3]);
    std::printf("resident: %ld kB with the small picture, %ld kB with the big one, %ld kB "
                "with the small one back (%+ld kB); peak %ld kB\n",
                small, big, after, after - small, StatusKb("VmHWM"));
    fs::remove_all(dir);
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc == 3 && std::string(argv[1]) == "--one") {
        QCoreApplication application(argc, argv);
        return One(argv[2]);
    }
    if (argc == 4 && std::string(argv[1]) == "--back") {
        return Back(argc, argv);
    }
    if (argc != 2) {
        std::fputs("Uso: picture_bench DIR | --one FILE | --back BIG SMALL\n", stderr);
        return 2;
    }
    QCoreApplication application(argc, argv);
    const fs::path dir = argv[1];
    fs::create_directories(dir);
    std::printf("| file | size | what | fastest of 5 | peak added | outcome |\n"
                "|---|---|---|---|---|---|\n");
    for (const Made& file : MakeFiles(dir)) {
        const fs::path path = dir / file.name;
        const std::string command = std::string("'") + argv[0] + "' --one '" + path.string() + "'";
        std::FILE* child = ::popen(command.c_str(), "r");
        char line[512] = "";
        if (std::fgets(line, sizeof line, child) == nullptr) {
            line[0] = '\0';
        }
        ::pclose(child);
        std::string result = line;
        result.erase(result.find_last_not_of('\n') + 1);
        std::printf("| %s | %.1f MB | %s | %s |\n", file.name.c_str(),
                    static_cast<double>(fs::file_size(path)) / 1e6, file.what.c_str(),
                    result.c_str());
        std::fflush(stdout);
    }
    return 0;
}
