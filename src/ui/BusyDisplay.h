#pragma once

class QWidget;

// The serial exchanges run on the GUI thread. While it is busy with them the
// display's own events must still be served, or nothing new is drawn, what a
// closed dialog uncovered stays on screen, and a window manager marks the
// program as not responding. Everything the display sends is served, input
// included, so that nothing is left waiting in the toolkit's queues; the
// program itself holds the input while an operation is in progress.
namespace busydisplay {

// Serves what the display has sent so far: exposes, paints, the window
// manager's messages, timers, and input, which is held as Operation says.
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

// An operation (a check, read, write or upgrade) in progress for the life of the
// object; nested ones count as one. Meanwhile the program's windows take no
// input: clicks, the wheel, keys and touches are dropped, and so is what was
// given before the operation ended but is served only at its end. A request to
// close a window is carried out when the outermost operation has ended.
class Operation {
public:
    Operation();
    ~Operation();
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;
};

// A modal dialog that an operation opens on purpose, for the life of the
// object: the dialog's own loop takes the user's input, but input given before
// the dialog opened is dropped first, so that nothing typed or clicked during
// the operation answers it.
class DialogLoop {
public:
    DialogLoop();
    ~DialogLoop();
    DialogLoop(const DialogLoop&) = delete;
    DialogLoop& operator=(const DialogLoop&) = delete;
};

}  // namespace busydisplay
