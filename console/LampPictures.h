// Which picture shows which input code, and where the picture files are.
#pragma once

#include "Module1_Velantro.h"

#include <cstdint>
#include <string>

// The picture file that shows a reported lamp, with its leading separator, or
// nullptr for a report of no lamp state.
inline const char* PictureFileFor(Module1_Velantro::LampReport lamp) {
    using Module1_Velantro::LampReport;
    switch (lamp) {
    case LampReport::Green:
        return "/verde.jpg";
    case LampReport::Amber:
        return "/amarillo.jpg";
    case LampReport::Red:
        return "/rojo.jpg";
    case LampReport::Dark:
        return "/velantro.gif";
    case LampReport::None:
        break;
    }
    return nullptr;
}

// The picture file for an input code, or nullptr for a code that reports no
// lamp state (8 to 15).
inline const char* PictureFileFor(std::int32_t InputCode) {
    return PictureFileFor(Module1_Velantro::ReportedLamp(InputCode));
}

// The program's directory followed by the file literal, nothing added or
// removed: in the root directory this gives "//rojo.jpg". Reuses path's
// storage.
inline void JoinPath(const std::string& directory, const char* file, std::string& path) {
    path.assign(directory).append(file);
}
