#include "cli/watch_loop.h"

#include "cli/folder_watch.h"
#include "cli/text_escape.h"
#include "core/procedure_error.h"

#include <opencv2/core.hpp>

#include <optional>

namespace tallen {

void runWatch(const WatchOptions& options,
              const std::function<bool(const std::string& path)>& inspectPicture,
              const std::function<void(const std::string& line)>& progress, std::FILE* err) {
  FolderWatch watch(options.directory, options.newOnly);
  progress("watching " + options.directory + " for pictures (SIGINT or SIGTERM ends)");
  while (const std::optional<std::string> path = watch.next()) {
    // One bad picture on a line (truncated, a stray frame, no model yet) must not end the watch.
    try {
      if (!inspectPicture(*path)) return;
    } catch (const InspectionError& error) {
      // The message may name only a working file: say which picture it cost.
      std::fprintf(err, "tallen: error: %s (%s skipped)\n",
                   escapeControlCharacters(error.what()).c_str(),
                   escapeControlCharacters(*path).c_str());
    } catch (const cv::Exception& error) {
      std::fprintf(err, "tallen: error in the image library: %s (%s skipped)\n",
                   escapeControlCharacters(error.what()).c_str(),
                   escapeControlCharacters(*path).c_str());
    }
    std::fflush(err);
  }
}

}  // namespace tallen
