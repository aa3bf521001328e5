// Whether the desktop's buses answer, asked before Qt's accessibility bridge
// asks them: the bridge connects on the main thread and waits for each answer
// (25 s a call), so a bus that has stopped would keep the window from
// drawing and hold back every click for as long.
#pragma once

#include <string>

// Asks what Qt's bridge would ask (the session bus whether the accessibility
// bus is there and a screen reader on; then the accessibility bus and its
// registry), in a process of its own given limitMs milliseconds. When a bus
// does not answer in time, Qt is pointed at no bus for this run, so the
// console runs without accessibility, and the returned Spanish notice (one
// line and its end) says so; empty when every bus answered or there is none.
// Call before the application object exists.
std::string HoldBackSilentBuses(int limitMs);
