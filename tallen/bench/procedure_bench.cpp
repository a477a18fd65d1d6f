// End-to-end timings of the command line's flows on demo pictures of camera sizes, each against
// the floor that no inspection can beat: decoding the picture plus the template search of the two
// masks on one thread. x_floor is a flow's time over the floor of its picture size.
#include "cli/command_line.h"
#include "core/bright_mask.h"
#include "core/freed_memory.h"
#include "generator/demo_set.h"
#include "generator/product_scene.h"

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kSamples = 3;
constexpr int kBatchSize = 8;
constexpr int kJpegQuality = 95;
constexpr int kFloorRepetitions = 3;

std::FILE* discard() {
  static std::FILE* sink = std::fopen("/dev/null", "w");
  return sink;
}

void runOrThrow(const std::vector<std::string>& arguments) {
  if (tallen::runCommandLine(arguments, discard(), discard()) != tallen::kExitSuccess) {
    throw std::runtime_error("tallen " + arguments.at(1) + " failed in the benchmark area");
  }
}

// A working directory with ../param.csv for one picture size, holding a template and a model of
// kSamples good samples, and the pictures the benchmarks inspect as JPEG files.
class BenchArea {
 public:
  explicit BenchArea(cv::Size size) {
    std::string pattern = (fs::temp_directory_path() / "tallen_bench_XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
    fs::create_directories(root_ / "work");
    fs::create_directories(root_ / "pictures");
    const cv::Size templateSize = demo::templateSizeFor(size);
    std::ofstream(root_ / "param.csv") << "width,height\n"
                                       << templateSize.width << ',' << templateSize.height << '\n';

    const std::vector<demo::NamedShot> goods = demo::goodSamples();
    for (int i = 0; i < kSamples; ++i) samples_.push_back(writePicture(size, goods[i]));
    const std::vector<demo::NamedShot> inspected = demo::inspectionPictures();
    for (int i = 0; i < kBatchSize; ++i) {
      demo::NamedShot shot = inspected[i % inspected.size()];
      shot.name = "batch" + std::to_string(i) + "_" + shot.name;
      batch_.push_back(writePicture(size, shot));
    }
    inspected_ = writePicture(size, inspected.back());

    enter();
    runOrThrow({"--quiet", "template", samples_[0]});
    std::vector<std::string> registration{"--quiet", "register"};
    registration.insert(registration.end(), samples_.begin(), samples_.end());
    runOrThrow(registration);

    pictureMask_ = tallen::brightMask(cv::imread(inspected_, cv::IMREAD_COLOR));
    templateMask_ = tallen::brightMask(cv::imread(templatePath(), cv::IMREAD_COLOR));
  }

  ~BenchArea() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  // Makes this area's working directory the current one.
  void enter() const { fs::current_path(root_ / "work"); }

  const std::string& sample(int i) const { return samples_[i]; }
  const std::string& inspected() const { return inspected_; }
  const std::vector<std::string>& batch() const { return batch_; }
  const cv::Mat& pictureMask() const { return pictureMask_; }
  const cv::Mat& templateMask() const { return templateMask_; }

  // The floor's per-call time in ms, measured once unless BM_Floor has set it.
  double floorMs() {
    if (floorMs_ <= 0.0) {
      floorOnce();
      const Clock::time_point start = Clock::now();
      for (int i = 0; i < kFloorRepetitions; ++i) floorOnce();
      floorMs_ = msSince(start) / kFloorRepetitions;
    }
    return floorMs_;
  }
  void setFloorMs(double ms) { floorMs_ = ms; }

  // Decodes the inspected picture and searches the template mask in the picture mask, one thread.
  void floorOnce() const {
    const int threads = cv::getNumThreads();
    cv::setNumThreads(1);
    cv::Mat picture = cv::imread(inspected_, cv::IMREAD_COLOR);
    benchmark::DoNotOptimize(picture.data);
    cv::Mat scores;
    cv::matchTemplate(pictureMask_, templateMask_, scores, cv::TM_CCORR_NORMED);
    benchmark::DoNotOptimize(scores.data);
    cv::setNumThreads(threads);
  }

  static double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  }

 private:
  std::string templatePath() const { return (root_ / "work" / "templImage.jpg").string(); }

  std::string writePicture(cv::Size size, const demo::NamedShot& shot) const {
    const std::string file = (root_ / "pictures" / (shot.name + ".jpg")).string();
    if (!cv::imwrite(file, demo::drawProductPicture(size, shot.shot),
                     {cv::IMWRITE_JPEG_QUALITY, kJpegQuality})) {
      throw std::runtime_error("cannot write " + file);
    }
    return file;
  }

  fs::path root_;
  std::vector<std::string> samples_;
  std::vector<std::string> batch_;
  std::string inspected_;
  cv::Mat pictureMask_;
  cv::Mat templateMask_;
  double floorMs_ = 0.0;
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

// Runs `flow` as the benchmark's body and reports its time over `floors` floors.
template <typename Flow>
void timeAgainstFloor(benchmark::State& state, BenchArea& area, int floors, Flow flow) {
  const double floorMs = area.floorMs();
  const Clock::time_point start = Clock::now();
  for (auto _ : state) flow();
  const double ms = BenchArea::msSince(start) / static_cast<double>(state.iterations());
  state.counters["floor_ms"] = floorMs;
  state.counters["x_floor"] = ms / floorMs;
  if (floors > 1) state.counters["x_floors"] = ms / (floorMs * floors);
}

void BM_Floor(benchmark::State& state) {
  BenchArea& area = areaFor(state);
  area.floorOnce();
  const Clock::time_point start = Clock::now();
  for (auto _ : state) area.floorOnce();
  area.setFloorMs(BenchArea::msSince(start) / static_cast<double>(state.iterations()));
}

void BM_Inspection(benchmark::State& state) {
  BenchArea& area = areaFor(state);
  timeAgainstFloor(state, area, 1, [&area] {
    runOrThrow({"--quiet", "inspect", area.inspected()});
  });
}

// Sample number 2: loads the stored model, folds the sample in and saves the model again.
void BM_SampleRegistration(benchmark::State& state) {
  BenchArea& area = areaFor(state);
  timeAgainstFloor(state, area, 1, [&area] {
    runOrThrow({"--quiet", "register", "--start", "2", area.sample(1)});
  });
}

// kBatchSize inspections in one command line with --jobs range(2).
void BM_InspectionBatch(benchmark::State& state) {
  BenchArea& area = areaFor(state);
  std::vector<std::string> arguments{"--quiet", "inspect", "--jobs",
                                     std::to_string(state.range(2))};
  arguments.insert(arguments.end(), area.batch().begin(), area.batch().end());
  timeAgainstFloor(state, area, kBatchSize, [&arguments] { runOrThrow(arguments); });
}

void pictureSizes(benchmark::internal::Benchmark* benchmark) {
  benchmark->Args({640, 480})->Args({2592, 1944})->Args({4000, 3000});
  benchmark->ArgNames({"width", "height"});
  benchmark->Unit(benchmark::kMillisecond)->UseRealTime();
}

void batchSizes(benchmark::internal::Benchmark* benchmark) {
  for (const auto& [width, height] : {std::pair{640, 480}, {2592, 1944}, {4000, 3000}}) {
    for (int jobs : {1, 2}) benchmark->Args({width, height, jobs});
  }
  benchmark->ArgNames({"width", "height", "jobs"});
  benchmark->Unit(benchmark::kMillisecond)->UseRealTime();
}

// The floor runs first, so that every flow is divided by the floor measured in the same run.
BENCHMARK(BM_Floor)->Apply(pictureSizes);
BENCHMARK(BM_Inspection)->Apply(pictureSizes);
BENCHMARK(BM_SampleRegistration)->Apply(pictureSizes);
BENCHMARK(BM_InspectionBatch)->Apply(batchSizes);

}  // namespace

// As the program does at start-up, so that the flows run as they do there.
int main(int argc, char** argv) {
  tallen::keepFreedMemory();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
