// End-to-end timings of template registration, sample registration and inspection: one
// processImage call each, headless and without trace lines, on demo pictures of camera sizes.
#include "core/console.h"
#include "core/image_viewer.h"
#include "core/procedure.h"
#include "generator/demo_set.h"
#include "generator/product_scene.h"

#include <opencv2/core.hpp>

#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int kSamples = 3;
const tallen::Console kSilent{stdout, nullptr};

// A working directory with ../param.csv for one picture size, holding a template and a model
// of kSamples good samples, and the decoded pictures the benchmarks feed in.
class BenchArea {
 public:
  explicit BenchArea(cv::Size size) {
    std::string pattern = (fs::temp_directory_path() / "tallen_bench_XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
    fs::create_directories(root_ / "work");
    const cv::Size templateSize = demo::templateSizeFor(size);
    std::ofstream(root_ / "param.csv") << "width,height\n"
                                       << templateSize.width << ',' << templateSize.height << '\n';

    const std::vector<demo::NamedShot> goods = demo::goodSamples();
    for (int i = 0; i < kSamples; ++i) {
      samples_.push_back(demo::drawProductPicture(size, goods[i].shot));
    }
    inspected_ = demo::drawProductPicture(size, demo::inspectionPictures().back().shot);

    enter();
    tallen::NullViewer viewer;
    tallen::processImage(samples_[0], tallen::kTemplateMode, viewer, kSilent);
    for (int n = 1; n <= kSamples; ++n) {
      tallen::processImage(samples_[n - 1], n, viewer, kSilent);
    }
  }

  ~BenchArea() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  // Makes this area's working directory the current one.
  void enter() const { fs::current_path(root_ / "work"); }

  const cv::Mat& sample(int i) const { return samples_[i]; }
  const cv::Mat& inspected() const { return inspected_; }

 private:
  fs::path root_;
  std::vector<cv::Mat> samples_;
  cv::Mat inspected_;
};

// Built once per size and kept for all benchmarks of that size; removed at exit.
BenchArea& areaFor(const benchmark::State& state) {
  static std::map<std::pair<int, int>, std::unique_ptr<BenchArea>> areas;
  const cv::Size size(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  std::unique_ptr<BenchArea>& area = areas[{size.width, size.height}];
  if (!area) area = std::make_unique<BenchArea>(size);
  area->enter();
  return *area;
}

void reportPixels(benchmark::State& state) {
  const double pixels = static_cast<double>(state.range(0)) * static_cast<double>(state.range(1));
  state.counters["Mpx/s"] = benchmark::Counter(
      pixels * 1e-6 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_TemplateRegistration(benchmark::State& state) {
  BenchArea& area = areaFor(state);
  tallen::NullViewer viewer;
  for (auto _ : state) {
    tallen::processImage(area.sample(0), tallen::kTemplateMode, viewer, kSilent);
  }
  reportPixels(state);
}

// Sample number 2: loads the stored model, folds the sample in and saves the model again.
void BM_SampleRegistration(benchmark::State& state) {
  BenchArea& area = areaFor(state);
  tallen::NullViewer viewer;
  for (auto _ : state) {
    tallen::processImage(area.sample(1), 2, viewer, kSilent);
  }
  reportPixels(state);
}

void BM_Inspection(benchmark::State& state) {
  BenchArea& area = areaFor(state);
  tallen::NullViewer viewer;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        tallen::processImage(area.inspected(), tallen::kInspectMode, viewer, kSilent));
  }
  reportPixels(state);
}

void pictureSizes(benchmark::internal::Benchmark* benchmark) {
  benchmark->Args({640, 480})->Args({2592, 1944})->Args({4000, 3000});
  benchmark->ArgNames({"width", "height"});
  benchmark->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(BM_TemplateRegistration)->Apply(pictureSizes);
BENCHMARK(BM_SampleRegistration)->Apply(pictureSizes);
BENCHMARK(BM_Inspection)->Apply(pictureSizes);

}  // namespace

BENCHMARK_MAIN();
