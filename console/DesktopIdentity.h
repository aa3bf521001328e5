#pragma once

#include <string>

// How the desktop tells the consoles apart. The same program runs in every
// program directory, and the directory's name says which board it drives:
// the console in "real" is plain Velantro, the one in "simulado" (or in any
// other program directory the build made) is Velantro-simulado, with its own
// window class, desktop entry and icon, so that docks and task switchers do
// not take one console for the other. The window title is the same for all.
struct DesktopIdentity {
    std::string desktopName;     // X11 instance name and desktop file: "velantro-simulado"
    std::string applicationName; // X11 class: "Velantro-simulado"
    std::string icon;            // the built-in window icon: ":/velantro-simulado.ico"
};

// The identity for a program directory (as ProgramDirectory() gives it),
// among the names in boards, separated by ',': those of the program
// directories other than the real port's. Any other directory is Velantro's.
DesktopIdentity DesktopIdentityFor(const std::string& programDirectory, const std::string& boards);
