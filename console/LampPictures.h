// Which picture shows which input code, and where the picture files are.
#pragma once

#include "Module1_Velantro.h"

#include <cstdint>
#include <string>

// The picture file for an input code, with its leading separator, or nullptr
// for a code that reports no lamp state (8 to 15).
inline const char* PictureFileFor(std::int32_t InputCode) {
    using Module1_Velantro::LampReport;
    switch (Module1_Velantro::ReportedLamp(InputCode)) {
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

// The program's directory followed by the file literal, nothing added or
// removed: in the root directory this gives "//rojo.jpg". Reuses path's
// storage.
inline void JoinPath(const std::string& directory, const char* file, std::string& path) {
    path.assign(directory).append(file);
}
