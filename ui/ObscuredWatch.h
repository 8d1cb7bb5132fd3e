#pragma once
// Tells a window when the X server reports it fully covered by other
// windows, so that it can skip painting what no one can see; an expose
// event brings back what is uncovered. Qt itself only reports a window
// minimised, not covered. Does nothing on platforms other than X11 (and
// under a compositing window manager the server never reports a window
// covered).

#include <functional>

class QWidget;

namespace ui {

// Calls `changed` on the GUI thread with true when `window` (a top-level
// widget, already shown) becomes fully covered and with false when any of
// it shows again. Watching stops when the window is destroyed.
void WatchObscured(QWidget* window, std::function<void(bool obscured)> changed);

}  // namespace ui
