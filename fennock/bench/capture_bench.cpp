// Speed of one live pass and of the sample step on synthetic frames, with a plain copy of one
// frame as the yardstick of memory speed. Target: a 1920x1080 live pass within 4 copies.
#include "core/background_model.h"
#include "core/foreground.h"
#include "core/frame_source.h"

#include <benchmark/benchmark.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdio>
#include <memory>
#include <vector>

namespace fennock {
namespace {

constexpr int kSceneFrames = 4;
constexpr int kRngSeed = 4711;

// A scene with a bright object on a noisy textured background, and its model.
struct Scene {
  explicit Scene(cv::Size size) : work(size) {
    cv::RNG rng(kRngSeed);
    background.create(size, CV_8UC3);
    rng.fill(background, cv::RNG::UNIFORM, 60, 200);
    threshold.create(size, CV_8UC3);
    rng.fill(threshold, cv::RNG::UNIFORM, 0, 12);
    for (int i = 0; i < kSceneFrames; ++i) {
      cv::Mat noise(size, CV_16SC3), frame;
      rng.fill(noise, cv::RNG::NORMAL, 0, 6);
      cv::add(background, noise, frame, cv::noArray(), CV_8UC3);
      cv::rectangle(frame,
                    cv::Rect(size.width / 4, size.height / 4, size.width / 2, size.height / 2),
                    cv::Scalar(30, 200, 240), cv::FILLED);
      frames.push_back(frame);
    }
    refreshModelViews(threshold, work);
  }

  cv::Mat background, threshold;
  std::vector<cv::Mat> frames;
  WorkImages work;
};

// Serves the scene's frames in turn without copying them.
class SceneSource : public FrameSource {
 public:
  explicit SceneSource(const Scene& scene) : scene_(scene) {}
  bool read(cv::Mat& frame) override {
    frame = scene_.frames[next_++ % scene_.frames.size()];
    return true;
  }

 private:
  const Scene& scene_;
  std::size_t next_ = 0;
};

cv::Size sizeOf(const benchmark::State& state) {
  return cv::Size(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
}

void setFrameBytes(benchmark::State& state, cv::Size size) {
  state.SetBytesProcessed(state.iterations() * size.area() * 3);
}

// The yardstick: one frame copied into a buffer that exists already.
void BM_CopyFrame(benchmark::State& state) {
  const Scene scene(sizeOf(state));
  cv::Mat copy(scene.frames[0].size(), CV_8UC3);
  std::size_t i = 0;
  for (auto _ : state) {
    scene.frames[i++ % kSceneFrames].copyTo(copy);
    benchmark::DoNotOptimize(copy.data);
  }
  setFrameBytes(state, sizeOf(state));
}

// The live pass as the tool runs it: the fused pass and the median; the model views are made
// once per model build, not per pass.
void BM_LivePass(benchmark::State& state) {
  Scene scene(sizeOf(state));
  std::size_t i = 0;
  for (auto _ : state) {
    computeLiveMask(scene.frames[i++ % kSceneFrames], scene.background, scene.work);
    benchmark::DoNotOptimize(scene.work.maskImage.data);
  }
  setFrameBytes(state, sizeOf(state));
}

// The live pass as a chain of library calls, with a fresh threshold view each pass.
void BM_LivePassPlain(benchmark::State& state) {
  Scene scene(sizeOf(state));
  std::size_t i = 0;
  for (auto _ : state) {
    computeLiveMaskPlain(scene.frames[i++ % kSceneFrames], scene.background, scene.threshold,
                         scene.work);
    cv::Mat thresholdView = scene.threshold.clone();
    thresholdView.convertTo(thresholdView, -1, 3.0);
    benchmark::DoNotOptimize(thresholdView.data);
  }
  setFrameBytes(state, sizeOf(state));
}

// The sample step: the mean of 50 frames, then the cut.
void BM_SampleStep(benchmark::State& state) {
  const cv::Size size = sizeOf(state);
  Scene scene(size);
  g_capture = std::make_unique<SceneSource>(scene);
  g_background = scene.background;
  g_threshold = scene.threshold;
  std::FILE* console = std::fopen("/dev/null", "w");
  for (auto _ : state) {
    captureMeanFrame(scene.work.meanFrame, size.width, size.height, console);
    cutSample(g_background, g_threshold, scene.work);
    benchmark::DoNotOptimize(scene.work.sampleImage.data);
  }
  std::fclose(console);
  g_capture.reset();
  g_background.release();
  g_threshold.release();
  setFrameBytes(state, size);
}

void frameSizes(benchmark::internal::Benchmark* b) {
  b->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMicrosecond);
}

BENCHMARK(BM_CopyFrame)->Apply(frameSizes);
BENCHMARK(BM_LivePass)->Apply(frameSizes);
BENCHMARK(BM_LivePassPlain)->Apply(frameSizes);
BENCHMARK(BM_SampleStep)->Apply(frameSizes)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace fennock

int main(int argc, char** argv) {
  // The target is for one thread; OpenCV's own parallel loops would blur the comparison.
  cv::setNumThreads(1);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
