#pragma once
// Work that waits for a window's first paint. Qt Widgets only, so that the start-up
// benchmark's empty window waits the same way.
#include <functional>

class QWidget;

// Runs `then` once, from the event loop, after `window` has been painted the first time
// (the picture is on its way to the screen by then); with `fallbackMs` of 0 or more, also
// when no paint has come by then, as for a window that starts minimized. Input to any window
// (a click, a key, a drop) that comes earlier runs it at once, before the input's handler.
// Nothing runs when `window` is destroyed first.
void AfterFirstPaint(QWidget* window, int fallbackMs, std::function<void()> then);

// The start-up measurement's report once the window is painted: "shown", then one line
// "library <path>" for each shared library mapped into the process at that moment, then the
// end of the event loop.
void ReportShownAndQuit();
