#pragma once
// Whether the windows can be shown at all. Qt aborts the whole process when
// its platform plugin finds no display, so start-up asks first and explains.

#include <string>

struct T_DisplayEnvironment {
  std::string qpaPlatform;     // QT_QPA_PLATFORM: plugins to try, ';'-separated, each with optional ":arguments"
  std::string display;         // DISPLAY, for X11 (xcb)
  std::string waylandDisplay;  // WAYLAND_DISPLAY
  bool waylandSocket = false;  // the default Wayland socket exists in XDG_RUNTIME_DIR
};

T_DisplayEnvironment DisplayEnvironmentOfProcess();

// True when one of the platform plugins Qt would try can start here: an X11
// or Wayland one with its display, or one that needs none (offscreen,
// minimal, vnc, eglfs, linuxfb, ...).
bool DisplayAvailable(const T_DisplayEnvironment& environment);

// What the program prints on standard error when there is no display.
std::string NoDisplayMessage(const std::string& program);
