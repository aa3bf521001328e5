// What a picture file costs the console, from reading it to its decoded
// visible part, and whether the memory of a big picture goes back.
//   picture_bench DIR            makes the crafted files and camera-sized photos
//                                in DIR and measures each in a process of its own
//   picture_bench --one FILE     one file, shown as the console shows it, a
//                                share per tick of a 10 ms timer: the ticks it
//                                took, the longest tick and the longest gap
//                                between two ticks, the peak memory added, the
//                                outcome
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
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
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

// The processor time this thread has taken, in milliseconds.
double ThreadMs() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
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

// A GIF of the given size in colours at random, 256 by default: the hardest
// there is to decode at that size.
std::string Gif(QSize size, unsigned colours = 256) {
    artgen::IndexedImage image;
    image.width = size.width();
    image.height = size.height();
    image.palette = artgen::CubePalette();
    image.pixels.resize(static_cast<std::size_t>(image.width) * image.height);
    QRandomGenerator random(7);
    for (auto& pixel : image.pixels) {
        pixel = static_cast<std::uint8_t>(random.bounded(colours));
    }
    return artgen::EncodeGif(image).toStdString();
}

// A progressive JPEG in full colour, as ImageMagick writes it with
// -interlace JPEG and no chroma subsampling.
void FullColour(const QImage& image, const fs::path& path) {
    const fs::path ppm = path.string() + ".ppm";
    image.save(QString::fromStdString(ppm.string()), "PPM");
    const std::string command = "convert '" + ppm.string() +
                                "' -sampling-factor 1x1 -interlace JPEG -quality 90 '" +
                                path.string() + "'";
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "convert failed: %s\n", command.c_str());
    }
    fs::remove(ppm);
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
        {"photo-1600x1200-progressive-444.jpg", "progressive in full colour (ImageMagick)"},
        {"photo-4000x3000-progressive.jpg", "progressive"},
        {"photo-4000x3000-progressive-444.jpg", "progressive in full colour (ImageMagick)"},
        {"photo-6000x4000-progressive-444.jpg", "progressive in full colour (ImageMagick)"},
        {"photo-8000x5000-q100.jpg", "baseline, quality 100"},
        {"photo-4000x3000-q100.jpg", "baseline, quality 100, near the largest file admitted"},
        {"gif-4096x4096.gif", "GIF"},
        {"gif-1600x1200.gif", "GIF"},
        {"gif-2000x2000.gif", "GIF"},
        {"gif-4000x4000.gif", "GIF, 16 colours at random, near the largest admitted"},
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
    FullColour(Photo({1600, 1200}), dir / made[10].name);
    Save(dir / made[11].name, Encode(Photo({4000, 3000}), "JPEG", 92, true));
    FullColour(Photo({4000, 3000}), dir / made[12].name);
    FullColour(photo, dir / made[13].name);
    Save(dir / made[14].name, Encode(Photo({8000, 5000}), "JPEG", 100));
    Save(dir / made[15].name, Encode(Photo({4000, 3000}), "JPEG", 100));
    Save(dir / made[16].name, Gif({4096, 4096}));
    Save(dir / made[17].name, Gif({1600, 1200}));
    Save(dir / made[18].name, Gif({2000, 2000}));
    Save(dir / made[19].name, Gif({4000, 4000}, 16));
    fs::copy_file(PICTURES_DIR "/rojo.jpg", dir / made[20].name,
                  fs::copy_options::overwrite_existing);
    return made;
}
// One file, through the loader and a picture box, on a 10 ms timer as the
// console's, until it is on show or refused: the ticks it took, the longest
// tick, the longest gap between the starts of two ticks, and the peak memory
// added over the resident size before.
int One(const std::string& path) {
    PictureBox box(nullptr);
    box.resize(249, 521);
    std::string outcome;
    int ticks = 0;
    double longestTick = 0;
    double longestCpu = 0;
    double longestGap = 0;
    const long before = StatusKb("VmRSS");
    ResetPeak();
    {
        PictureLoader loader;
        QTimer timer;
        timer.setInterval(10);
        auto last = std::chrono::steady_clock::time_point();
        QObject::connect(&timer, &QTimer::timeout, [&] {
            const auto start = std::chrono::steady_clock::now();
            const double startCpu = ThreadMs();
            if (ticks > 0) {
                longestGap = std::max(
                    longestGap, std::chrono::duration<double, std::milli>(start - last).count());
            }
            last = start;
            ++ticks;
            bool over = false;
            try {
                over = loader.Show(path, box);
                outcome = "shown";
            } catch (const PictureError& error) {
                outcome = error.what();
                outcome = "refused: " + outcome.substr(outcome.find(": ") + 2);
                over = true;
            }
            longestTick = std::max(longestTick, std::chrono::duration<double, std::milli>(
                                                    std::chrono::steady_clock::now() - start)
                                                    .count());
            longestCpu = std::max(longestCpu, ThreadMs() - startCpu);
            if (over || ticks >= 100'000) {
                timer.stop();
                QCoreApplication::quit();
            }
        });
        timer.start();
        QCoreApplication::exec();
    }
    std::printf("%d | %.1f ms | %.1f ms | %.1f ms | %.1f MB | %s\n", ticks, longestCpu, longestTick,
                longestGap, static_cast<double>(StatusKb("VmHWM") - before) / 1024,
                outcome.c_str());
    return 0;
}

int Back(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const fs::path dir = fs::temp_directory_path() / "picture_bench_back";
    fs::create_directories(dir);
    const fs::path shown = dir / "rojo.jpg";
    PictureBox box(nullptr);
    box.resize(249, 521);
    PictureLoader loader;
    const auto show = [&](const char* file) {
        fs::copy_file(file, shown, fs::copy_options::overwrite_existing);
        // A big picture is read and decoded over some ticks.
        for (int tick = 0; tick < 100'000 && !loader.Show(shown.string(), box); ++tick) {
        }
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
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication application(argc, argv);
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
    std::printf("| file | size | what | ticks | longest tick, processor | longest tick | "
                "longest gap | peak added | outcome |\n|---|---|---|---|---|---|---|---|---|\n");
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
