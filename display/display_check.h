#pragma once

#include <functional>

namespace kit {

// The message (after "<program>: ") when Qt has no platform to open here.
extern const char kNoDisplayMessage[];

// Reads an environment variable; null when it is not set.
using EnvironmentLookup = std::function<const char*(const char*)>;

// True when one of the Qt platforms that QT_QPA_PLATFORM names (xcb when unset; a list separated
// by ';' is tried in turn, as Qt does) can be opened: xcb needs an X server that accepts a
// connection at DISPLAY, wayland a socket at WAYLAND_DISPLAY; the other platforms (offscreen,
// minimal, eglfs, ...) need no display server.
bool qtPlatformUsable(const EnvironmentLookup& environment);

// As above with the process's environment.
bool qtPlatformUsable();

}  // namespace kit
