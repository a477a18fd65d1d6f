#pragma once

#include "core/orientation.h"
#include "core/sample_stats.h"
#include "core/template_locating.h"
#include "core/working_file_cache.h"

#include <opencv2/core.hpp>

#include <memory>

namespace tallen {

// What processImage keeps between calls of one process: the work images of every stage, reused
// while the picture and template sizes stay, and the decoded working files. One workspace serves
// one call at a time; workspaces of parallel calls may share one cache.
class ProcedureWorkspace {
 public:
  explicit ProcedureWorkspace(
      std::shared_ptr<WorkingFileCache> cache = std::make_shared<WorkingFileCache>())
      : cache_(std::move(cache)) {}

  WorkingFileCache& workingFiles() { return *cache_; }

  cv::Mat aligned;
  AlignmentBuffers alignment;
  MatchBuffers match;
  cv::Mat patch;
  cv::Mat floatPatch;
  SampleStatsBuffers stats;
  cv::Mat defects;

 private:
  std::shared_ptr<WorkingFileCache> cache_;
};

}  // namespace tallen
