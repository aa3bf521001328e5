// Which of Qt's display platforms the console runs on, and what it tells the
// operator when none can start.
#pragma once

#include <string>

struct DisplayPlatform {
    std::string name;        // as QT_QPA_PLATFORM gives it; empty: Qt's own default
    bool explicitly = false; // QT_QPA_PLATFORM was set before the console started
};

// Where the session offers an X server (DISPLAY), Qt's X11 platform, so that
// a Wayland desktop runs the console through Xwayland as an X11 desktop does:
// the window gets the place it asks for. Where there is only a Wayland display
// (WAYLAND_DISPLAY), Qt's native Wayland platform. A QT_QPA_PLATFORM already
// set is kept. Sets QT_QPA_PLATFORM; call before the application is made.
DisplayPlatform ChooseDisplayPlatform();

// The Spanish report, "velantro: " and a line end included, for a platform
// that did not start; pluginMissing when Qt has no such platform installed.
std::string NoDisplayReport(const DisplayPlatform& platform, bool pluginMissing);

// The Spanish report, "velantro: " and a line end included, for a platform
// that started but gives the console nowhere to show its window: no screen at
// all (linuxfb without a framebuffer), or windows of another kind only. Empty
// when the window can be shown. started is the platform Qt runs (its
// platformName), screens how many screens it offers.
std::string NoScreenReport(const DisplayPlatform& platform, const std::string& started,
                           int screens);
