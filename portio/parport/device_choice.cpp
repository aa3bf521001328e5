#include "device_choice.h"

#include "parport_device.h"

#include <charconv>
#include <filesystem>
#include <fstream>
#include <optional>

namespace parport {
namespace {

// The base address of the standard port, which is its data register's.
constexpr int LegacyBase = DataRegister;
constexpr std::string_view PortPrefix = "parport";

// The N of a "parportN" directory entry, or nothing for any other name.
std::optional<int> PortNumber(const std::string& name) {
    if (name.size() <= PortPrefix.size() || name.compare(0, PortPrefix.size(), PortPrefix) != 0) {
        return std::nullopt;
    }
    const char* first = name.data() + PortPrefix.size();
    const char* last = name.data() + name.size();
    int number = 0;
    auto [end, ec] = std::from_chars(first, last, number);
    if (ec != std::errc() || end != last) {
        return std::nullopt;
    }
    return number;
}

// base-addr holds the I/O base first, then the ECP base when there is one:
// "888\t1912".
bool HasLegacyBase(const std::filesystem::path& portDir) {
    std::ifstream file(portDir / "base-addr");
    long base = -1;
    return static_cast<bool>(file >> base) && base == LegacyBase;
}

} // namespace

std::string DeviceChoice::Label() const {
    // A path of any length can come from the variable; messages keep their
    // reason and advice whole and shorten the path instead: its start and its
    // end, cut between UTF-8 sequences.
    constexpr size_t HeadBytes = 60, TailBytes = 100;
    std::string shown = path;
    if (shown.size() > HeadBytes + TailBytes) {
        auto sequenceStart = [this](size_t at) {
            while (at > 0 && (static_cast<unsigned char>(path[at]) & 0xC0) == 0x80) {
                --at;
            }
            return at;
        };
        const size_t head = sequenceStart(HeadBytes);
        const size_t tail = sequenceStart(path.size() - TailBytes);
        shown = path.substr(0, head) + "…" + path.substr(tail);
    }
    return fromVariable ? shown + " (indicado en " + DeviceVariable + ")" : shown;
}

DeviceChoice ChooseDevice(const std::string& procDir, const std::string& override) {
    if (!override.empty()) {
        return {override, true};
    }

    std::optional<int> best;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(procDir, ec), end; !ec && it != end;
         it.increment(ec)) {
        std::optional<int> number = PortNumber(it->path().filename().string());
        if (number && (!best || *number < *best) && HasLegacyBase(it->path())) {
            best = number;
        }
    }
    return {"/dev/parport" + std::to_string(best.value_or(0)), false};
}

} // namespace parport
