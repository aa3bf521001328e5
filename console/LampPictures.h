// Which picture shows which input code, what it is called for assistive
// technology, and where the picture files are.
#pragma once

#include "Module1_Velantro.h"

#include <cstdint>
#include <string>

// What the picture box shows for a reported lamp: the picture file, with its
// leading separator, and the lamp state in the words assistive technology
// speaks for the box. A report of no lamp state shows nothing new: both are
// nullptr.
struct LampShown {
    const char* file;
    const char* words;
};

inline LampShown LampShownFor(Module1_Velantro::LampReport lamp) {
    using Module1_Velantro::LampReport;
    switch (lamp) {
    case LampReport::Green:
        return {"/verde.jpg", "verde encendido"};
    case LampReport::Amber:
        return {"/amarillo.jpg", "ámbar encendido"};
    case LampReport::Red:
        return {"/rojo.jpg", "rojo encendido"};
    case LampReport::Dark:
        return {"/velantro.gif", "apagado"};
    case LampReport::None:
        break;
    }
    return {nullptr, nullptr};
}

// The picture file for an input code, or nullptr for a code that reports no
// lamp state (8 to 15).
inline const char* PictureFileFor(std::int32_t InputCode) {
    return LampShownFor(Module1_Velantro::ReportedLamp(InputCode)).file;
}

// The program's directory followed by the file literal, nothing added or
// removed: in the root directory this gives "//rojo.jpg". Reuses path's
// storage.
inline void JoinPath(const std::string& directory, const char* file, std::string& path) {
    path.assign(directory).append(file);
}
