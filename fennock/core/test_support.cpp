#include "core/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace fennock::testing {

class SyntheticSource : public FrameSource {
 public:
  explicit SyntheticSource(SyntheticFrames& frames) : frames_(frames) {}
  ~SyntheticSource() override { frames_.released_ = true; }
  bool read(cv::Mat& frame) override { return frames_.next(frame); }

 private:
  SyntheticFrames& frames_;
};

std::unique_ptr<FrameSource> SyntheticFrames::makeSource() {
  released_ = false;
  return std::make_unique<SyntheticSource>(*this);
}

bool SyntheticFrames::next(cv::Mat& frame) {
  if (ended_) ADD_FAILURE() << "a frame was read after the source had run out";
  const int index = reads_;
  if (index >= limit || frames_.empty()) {
    ended_ = true;
    frame.release();
    return false;
  }
  const auto override = overrides.find(index);
  frame = override != overrides.end() ? override->second : frames_[index % frames_.size()];
  ++reads_;
  return true;
}

int ScriptedKeys::waitKey() {
  const int index = calls_++;
  if (index >= static_cast<int>(steps_.size())) {
    ADD_FAILURE() << "the key script ran out after " << steps_.size() << " keys";
    return 'q';
  }
  if (steps_[index].before) steps_[index].before();
  return steps_[index].key;
}

void RecordingViewer::createWindow(const std::string& name) { calls.push_back("create " + name); }

void RecordingViewer::show(const std::string& name, const cv::Mat& image) {
  calls.push_back("show " + name);
  ++shows[name];
  if (keepImages_) latest[name] = image.clone();
}

void RecordingViewer::destroyWindow(const std::string& name) { calls.push_back("destroy " + name); }

MemoryConsole::MemoryConsole() : file_(open_memstream(&buffer_, &size_)) {}

MemoryConsole::~MemoryConsole() {
  std::fclose(file_);
  std::free(buffer_);
}

std::string MemoryConsole::text() {
  std::fflush(file_);
  return std::string(buffer_, size_);
}

std::vector<std::string> MemoryConsole::lines() {
  std::vector<std::string> result;
  std::istringstream stream(text());
  for (std::string line; std::getline(stream, line);) result.push_back(line);
  return result;
}

namespace {

std::atomic<long> g_allocations{0};
std::atomic<long> g_live{0};

// The standard allocator's layout, with counts.
class CountingAllocator : public cv::MatAllocator {
 public:
  cv::UMatData* allocate(int dims, const int* sizes, int type, void* data0, size_t* step,
                         cv::AccessFlag, cv::UMatUsageFlags) const override {
    size_t total = CV_ELEM_SIZE(type);
    for (int i = dims - 1; i >= 0; --i) {
      if (step != nullptr) {
        if (data0 != nullptr && step[i] != cv::Mat::AUTO_STEP) {
          total = step[i];
        } else {
          step[i] = total;
        }
      }
      total *= sizes[i];
    }
    auto* data =
        data0 != nullptr ? static_cast<uchar*>(data0) : static_cast<uchar*>(cv::fastMalloc(total));
    auto* u = new cv::UMatData(this);
    u->data = u->origdata = data;
    u->size = total;
    if (data0 != nullptr) {
      u->flags |= cv::UMatData::USER_ALLOCATED;
    } else {
      ++g_allocations;
      ++g_live;
    }
    return u;
  }

  bool allocate(cv::UMatData*, cv::AccessFlag, cv::UMatUsageFlags) const override { return false; }

  void deallocate(cv::UMatData* u) const override {
    if (u == nullptr) return;
    if (!(u->flags & cv::UMatData::USER_ALLOCATED)) {
      cv::fastFree(u->origdata);
      --g_live;
    }
    delete u;
  }
};

CountingAllocator g_countingAllocator;

}  // namespace

AllocationCounter::AllocationCounter() : previous_(cv::Mat::getDefaultAllocator()) {
  g_allocations = 0;
  g_live = 0;
  cv::Mat::setDefaultAllocator(&g_countingAllocator);
}

AllocationCounter::~AllocationCounter() { cv::Mat::setDefaultAllocator(previous_); }

long AllocationCounter::allocations() const { return g_allocations; }

long AllocationCounter::live() const { return g_live; }

TemporaryDirectory::TemporaryDirectory() {
  std::string pattern = (std::filesystem::temp_directory_path() / "fennock-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "cannot create " << pattern;
  path_ = pattern;
}

TemporaryDirectory::~TemporaryDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

cv::Mat solid(int width, int height, cv::Scalar bgr) {
  return cv::Mat(height, width, CV_8UC3, bgr);
}

}  // namespace fennock::testing
