#pragma once

class QWidget;

// The serial exchanges run on the GUI thread. While it is busy with them the
// display's own events must still be served, or nothing new is drawn, what a
// closed dialog uncovered stays on screen, and a window manager marks the
// program as not responding. User input stays queued until the work is over, so
// nothing can start a second operation meanwhile.
namespace busydisplay {

// Serves what the display has sent so far: exposes, paints, the window
// manager's messages, and timers. User input (a click, a close request) waits,
// and is delivered as soon as the operation returns to the event loop.
void Serve();

// True while Serve runs: a timer that reads the port leaves it alone then,
// since an exchange may be half done.
bool Serving();

// Shows a top-level window and has it painted before returning. A window can be
// painted only once the window system has exposed it, which takes a round trip
// through the display (and its window manager); that is waited for, serving the
// display, for at most boundMs. A window exposed later is painted the next time
// the display is served.
void ShowPainted(QWidget& window, int boundMs);

}  // namespace busydisplay
