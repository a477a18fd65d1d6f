#include "display_check.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <ostream>
#include <string>

namespace kit {
namespace {

// A folder standing in for XDG_RUNTIME_DIR, holding one listening socket "wayland-test".
class RuntimeDirectory {
 public:
  RuntimeDirectory() {
    char pattern[] = "/tmp/display_check_XXXXXX";
    path_ = ::mkdtemp(pattern);
    socket_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s/wayland-test", path_.c_str());
    ::bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    ::listen(socket_, 1);
  }
  ~RuntimeDirectory() {
    ::close(socket_);
    ::unlink((path_ + "/wayland-test").c_str());
    ::rmdir(path_.c_str());
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  int socket_ = -1;
};

struct PlatformCase {
  const char* name;
  std::map<std::string, std::string> environment;  // "RUNTIME" stands for the runtime folder
  bool usable;
};

void PrintTo(const PlatformCase& c, std::ostream* os) { *os << c.name; }

class Platforms : public ::testing::TestWithParam<PlatformCase> {};

TEST_P(Platforms, AreUsableOnlyWithTheirDisplayServer) {
  const RuntimeDirectory runtime;
  std::map<std::string, std::string> environment = GetParam().environment;
  for (auto& entry : environment) {
    if (entry.second == "RUNTIME") entry.second = runtime.path();
  }
  const auto lookup = [&](const char* name) -> const char* {
    const auto it = environment.find(name);
    return it == environment.end() ? nullptr : it->second.c_str();
  };
  EXPECT_EQ(qtPlatformUsable(lookup), GetParam().usable);
}

// Display :987 has no server on a test machine; a refused connection is all that is needed.
const PlatformCase kPlatformCases[] = {
    {"NothingSet", {}, false},
    {"DefaultWithEmptyDisplay", {{"DISPLAY", ""}}, false},
    {"DefaultWithoutServer", {{"DISPLAY", ":987"}}, false},
    {"XcbWithoutServer", {{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", ":987"}}, false},
    {"Offscreen", {{"QT_QPA_PLATFORM", "offscreen"}}, true},
    {"OffscreenWithOptions", {{"QT_QPA_PLATFORM", "offscreen:fontengine=freetype"}}, true},
    {"Minimal", {{"QT_QPA_PLATFORM", "minimal"}}, true},
    {"WaylandWithSocket",
     {{"QT_QPA_PLATFORM", "wayland"},
      {"WAYLAND_DISPLAY", "wayland-test"},
      {"XDG_RUNTIME_DIR", "RUNTIME"}},
     true},
    {"WaylandWithoutSocket",
     {{"QT_QPA_PLATFORM", "wayland"},
      {"WAYLAND_DISPLAY", "wayland-none"},
      {"XDG_RUNTIME_DIR", "RUNTIME"}},
     false},
    {"WaylandDefaultSocketMissing",
     {{"QT_QPA_PLATFORM", "wayland"}, {"XDG_RUNTIME_DIR", "RUNTIME"}},
     false},
    {"WaylandWithoutRuntimeFolder",
     {{"QT_QPA_PLATFORM", "wayland"}, {"WAYLAND_DISPLAY", "wayland-test"}},
     false},
    {"ListFallsBackToOffscreen", {{"QT_QPA_PLATFORM", "xcb;offscreen"}, {"DISPLAY", ""}}, true},
    {"ListOfUnusable",
     {{"QT_QPA_PLATFORM", "wayland;xcb"}, {"DISPLAY", ":987"}, {"XDG_RUNTIME_DIR", "RUNTIME"}},
     false},
};

INSTANTIATE_TEST_SUITE_P(DisplayCheck, Platforms, ::testing::ValuesIn(kPlatformCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The check must not refuse a real X server: one is started for the test where Xvfb exists, on
// a display number of this process, and is waited for until its socket appears.
TEST(DisplayCheck, RunningXServerIsUsable) {
  constexpr int kFirstDisplay = 100;
  constexpr int kDisplays = 800;
  constexpr int kWaitSteps = 200;
  constexpr useconds_t kWaitStepUs = 50000;
  if (std::system("command -v Xvfb >/dev/null 2>&1") != 0) GTEST_SKIP() << "no Xvfb";
  const std::string number = std::to_string(kFirstDisplay + ::getpid() % kDisplays);
  const std::string display = ":" + number;
  const pid_t server = ::fork();
  ASSERT_GE(server, 0);
  if (server == 0) {
    ::execlp("Xvfb", "Xvfb", display.c_str(), "-nolisten", "tcp", "-screen", "0", "64x64x24",
             static_cast<char*>(nullptr));
    ::_exit(127);
  }
  const std::string socket = "/tmp/.X11-unix/X" + number;
  bool started = false;
  for (int i = 0; i < kWaitSteps && !started; ++i) {
    started = ::access(socket.c_str(), F_OK) == 0;
    if (!started) ::usleep(kWaitStepUs);
    if (::waitpid(server, nullptr, WNOHANG) == server) break;  // the number was taken
  }
  const bool usable = started && qtPlatformUsable([&](const char* name) -> const char* {
                        return std::strcmp(name, "DISPLAY") == 0 ? display.c_str() : nullptr;
                      });
  ::kill(server, SIGTERM);
  ::waitpid(server, nullptr, 0);
  if (!started) GTEST_SKIP() << "Xvfb did not start on " << display;
  EXPECT_TRUE(usable) << display;
}

}  // namespace
}  // namespace kit
