#pragma once

#include <cstdio>
#include <functional>
#include <string>

namespace tallen {

// What `inspect --watch` was asked to watch.
struct WatchOptions {
  std::string directory;  // --watch DIR
  bool newOnly = false;   // --new-only: leave the pictures already in DIR alone
};

// Hands each picture that arrives in options.directory (see FolderWatch) to `inspectPicture`
// until SIGINT or SIGTERM, then returns; a signal during a picture ends the watch after it.
// `inspectPicture` returns false to end the watch early (its output is lost). A picture it
// refuses with InspectionError or cv::Exception is reported on `err` as "tallen: error: <message>
// (<path> skipped)" and the watch goes on with the next one; other exceptions, and InspectionError
// from the watch itself, propagate. `progress` gets one line once the folder is watched.
void runWatch(const WatchOptions& options,
              const std::function<bool(const std::string& path)>& inspectPicture,
              const std::function<void(const std::string& line)>& progress, std::FILE* err);

}  // namespace tallen
