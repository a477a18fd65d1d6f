#pragma once

// Fakes and probes shared by the fennock tests: synthetic frames, scripted keys, a recording
// viewer, an in-memory console and a counter of image allocations.

#include "core/frame_source.h"
#include "core/image_viewer.h"
#include "core/key_source.h"

#include <opencv2/core.hpp>

#include <climits>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace fennock::testing {

// Frames for g_capture, owned by the test so that it can look at them after the run released
// its source. Serves `frames` in turn (no copy), at index i `overrides[i]` instead, and no frame
// from index `limit` on; a read after a missing frame is a test failure.
class SyntheticFrames {
 public:
  explicit SyntheticFrames(std::vector<cv::Mat> frames) : frames_(std::move(frames)) {}

  // A FrameSource reading from these frames, for g_capture.
  std::unique_ptr<FrameSource> makeSource();

  std::vector<cv::Mat>& frames() { return frames_; }
  std::map<int, cv::Mat> overrides;
  int limit = INT_MAX;

  int reads() const { return reads_; }         // frames delivered
  bool released() const { return released_; }  // the source was destroyed

 private:
  friend class SyntheticSource;
  bool next(cv::Mat& frame);

  std::vector<cv::Mat> frames_;
  int reads_ = 0;
  bool ended_ = false;
  bool released_ = false;
};

// Keys in a script; `before` runs just before its key is returned. Past the end of the script it
// fails the test and returns 'q'.
class ScriptedKeys : public KeySource {
 public:
  struct Step {
    int key;
    std::function<void()> before;
  };
  explicit ScriptedKeys(std::vector<Step> steps) : steps_(std::move(steps)) {}
  int waitKey() override;
  int calls() const { return calls_; }

 private:
  std::vector<Step> steps_;
  int calls_ = 0;
};

// Records every window call as "create <name>", "show <name>" or "destroy <name>", and keeps a
// copy of the latest picture per window when `keepImages` is set.
class RecordingViewer : public ImageViewer {
 public:
  explicit RecordingViewer(bool keepImages = true) : keepImages_(keepImages) {}
  void createWindow(const std::string& name) override;
  void show(const std::string& name, const cv::Mat& image) override;
  void destroyWindow(const std::string& name) override;

  std::vector<std::string> calls;
  std::map<std::string, cv::Mat> latest;
  std::map<std::string, int> shows;

 private:
  bool keepImages_;
};

// A console stream held in memory.
class MemoryConsole {
 public:
  MemoryConsole();
  ~MemoryConsole();
  MemoryConsole(const MemoryConsole&) = delete;
  MemoryConsole& operator=(const MemoryConsole&) = delete;

  std::FILE* file() { return file_; }
  std::string text();
  std::vector<std::string> lines();

 private:
  std::FILE* file_ = nullptr;
  char* buffer_ = nullptr;
  std::size_t size_ = 0;
};

// Counts the image buffers that cv::Mat allocates and frees while it is alive.
class AllocationCounter {
 public:
  AllocationCounter();
  ~AllocationCounter();
  AllocationCounter(const AllocationCounter&) = delete;
  AllocationCounter& operator=(const AllocationCounter&) = delete;

  long allocations() const;  // buffers allocated since construction
  long live() const;         // allocated since construction and not yet freed (may go negative)

 private:
  cv::MatAllocator* previous_;
};

// A fresh directory under the system's temporary directory, removed with its contents at the end.
class TemporaryDirectory {
 public:
  TemporaryDirectory();
  ~TemporaryDirectory();
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

  const std::string& path() const { return path_; }
  // `path()/name`.
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// A w x h 8UC3 image of one colour.
cv::Mat solid(int width, int height, cv::Scalar bgr);

}  // namespace fennock::testing
