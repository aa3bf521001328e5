// Which picture shows which input code, and where the picture files are.
#pragma once

#include <cstdint>
#include <string>

// The picture file for an input code, with its leading separator, or nullptr
// for a code that reports no lamp state (8 to 15). A code and its complement
// within three bits show the same lamp, since boards differ in whether a lit
// lamp reads as 1 or as 0.
inline const char* PictureFileFor(std::int32_t InputCode)
{
    switch (InputCode) {
    case 3:
    case 4:
        return "/verde.jpg";
    case 5:
    case 2:
        return "/amarillo.jpg";
    case 6:
    case 1:
        return "/rojo.jpg";
    case 0:
    case 7:
        return "/velantro.gif";
    default:
        return nullptr;
    }
}

// The program's directory followed by the file literal, nothing added or
// removed: in the root directory this gives "//rojo.jpg". Reuses path's
// storage.
inline void JoinPath(const std::string& directory, const char* file, std::string& path)
{
    path.assign(directory).append(file);
}
