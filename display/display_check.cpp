#include "display_check.h"

#include <sys/stat.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <string>

namespace kit {

const char kNoDisplayMessage[] =
    "no display: set DISPLAY, or QT_QPA_PLATFORM=offscreen for a run without windows";

namespace {

// Debian's Qt 5 opens xcb when no platform is named.
constexpr char kDefaultPlatform[] = "xcb";
constexpr char kDefaultWaylandSocket[] = "wayland-0";

std::string valueOf(const EnvironmentLookup& environment, const char* name) {
  const char* value = environment(name);
  return value == nullptr ? std::string() : std::string(value);
}

bool xServerAnswers(const EnvironmentLookup& environment) {
  const std::string display = valueOf(environment, "DISPLAY");
  if (display.empty()) return false;
  xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
  const bool connected = xcb_connection_has_error(connection) == 0;
  xcb_disconnect(connection);
  return connected;
}

bool waylandSocketExists(const EnvironmentLookup& environment) {
  std::string socket = valueOf(environment, "WAYLAND_DISPLAY");
  if (socket.empty()) socket = kDefaultWaylandSocket;
  if (socket[0] != '/') {
    const std::string runtime = valueOf(environment, "XDG_RUNTIME_DIR");
    if (runtime.empty()) return false;
    socket = runtime + "/" + socket;
  }
  struct stat status {};
  return ::stat(socket.c_str(), &status) == 0 && S_ISSOCK(status.st_mode);
}

// One entry of the list: "name" or "name:options".
bool platformUsable(const std::string& entry, const EnvironmentLookup& environment) {
  const std::string name = entry.substr(0, entry.find(':'));
  if (name == "xcb") return xServerAnswers(environment);
  if (name.rfind("wayland", 0) == 0) return waylandSocketExists(environment);
  return true;
}

}  // namespace

bool qtPlatformUsable(const EnvironmentLookup& environment) {
  std::string platforms = valueOf(environment, "QT_QPA_PLATFORM");
  if (platforms.empty()) platforms = kDefaultPlatform;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = platforms.find(';', start);
    const std::string entry = platforms.substr(start, end - start);
    if (!entry.empty() && platformUsable(entry, environment)) return true;
    if (end == std::string::npos) return false;
    start = end + 1;
  }
}

bool qtPlatformUsable() {
  return qtPlatformUsable([](const char* name) { return std::getenv(name); });
}

}  // namespace kit
