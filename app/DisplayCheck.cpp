#include "DisplayCheck.h"

#include <sys/stat.h>

#include <cstdlib>
#include <sstream>

namespace {

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

bool PluginUsable(const std::string& plugin, const T_DisplayEnvironment& environment) {
  const std::string name = plugin.substr(0, plugin.find(':'));
  if (name == "xcb") {
    return !environment.display.empty();
  }
  if (name.starts_with("wayland")) {
    return !environment.waylandDisplay.empty() || environment.waylandSocket;
  }
  return !name.empty();
}

}  // namespace

T_DisplayEnvironment DisplayEnvironmentOfProcess() {
  T_DisplayEnvironment environment;
  environment.qpaPlatform = Variable("QT_QPA_PLATFORM");
  environment.display = Variable("DISPLAY");
  environment.waylandDisplay = Variable("WAYLAND_DISPLAY");
  const std::string runtimeDir = Variable("XDG_RUNTIME_DIR");
  struct stat socketStat {};
  environment.waylandSocket = !runtimeDir.empty() && ::stat((runtimeDir + "/wayland-0").c_str(), &socketStat) == 0 &&
                              S_ISSOCK(socketStat.st_mode);
  return environment;
}

bool DisplayAvailable(const T_DisplayEnvironment& environment) {
  if (environment.qpaPlatform.empty()) {
    // Qt's own choice on a desktop: X11 or Wayland, whichever is there.
    return PluginUsable("xcb", environment) || PluginUsable("wayland", environment);
  }
  std::istringstream plugins(environment.qpaPlatform);
  std::string plugin;
  while (std::getline(plugins, plugin, ';')) {
    if (PluginUsable(plugin, environment)) {
      return true;
    }
  }
  return false;
}

std::string NoDisplayMessage(const std::string& program) {
  return program +
         ": no display to show the windows on (neither DISPLAY nor WAYLAND_DISPLAY names one).\n"
         "Run it in a desktop session, or on a virtual display, for example:\n"
         "  xvfb-run -a " +
         program +
         " [--simulate]\n"
         "(QT_QPA_PLATFORM=offscreen runs it without showing the windows at all.)\n";
}
