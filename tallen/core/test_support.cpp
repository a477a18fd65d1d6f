#include "core/test_support.h"

#include <opencv2/imgproc.hpp>

#include <fstream>
#include <sstream>

namespace tallen::testing {

namespace fs = std::filesystem;

ScopedWorkingDirectory::ScopedWorkingDirectory() : previous_(fs::current_path()) {
  std::string pattern = (fs::temp_directory_path() / "tallen-test-XXXXXX").string();
  root_ = fs::path(mkdtemp(pattern.data()));
  fs::create_directory(root_ / "work");
  fs::current_path(root_ / "work");
}

ScopedWorkingDirectory::~ScopedWorkingDirectory() {
  std::error_code ec;
  fs::current_path(previous_, ec);
  fs::remove_all(root_, ec);
}

void ScopedWorkingDirectory::writeTemplateSize(int width, int height) const {
  writeParamFile("width,height\n" + std::to_string(width) + "," + std::to_string(height) + "\n");
}

void ScopedWorkingDirectory::writeParamFile(const std::string& content) const {
  std::ofstream(root_ / "param.csv", std::ios::binary) << content;
}

std::string fileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<missing>";
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

CapturedStream::CapturedStream() : file_(std::tmpfile()) {}

CapturedStream::~CapturedStream() { std::fclose(file_); }

std::string CapturedStream::text() const {
  std::fflush(file_);
  const long end = std::ftell(file_);
  std::string result(static_cast<std::size_t>(end), '\0');
  std::rewind(file_);
  const std::size_t got = std::fread(result.data(), 1, result.size(), file_);
  result.resize(got);
  std::fseek(file_, 0, SEEK_END);
  return result;
}

cv::Mat productPicture(cv::Size size, double angleDegrees, cv::Point2f shift, int defect,
                       unsigned seed) {
  cv::Mat upright(size, CV_8UC3, cv::Scalar(30, 30, 30));
  const cv::Point2f centre(size.width / 2.0f, size.height / 2.0f);
  // A tall plate, so that its long sides are the longest straight edges.
  const cv::Rect plate(cvRound(centre.x) - 60, cvRound(centre.y) - 100, 120, 200);
  cv::rectangle(upright, plate, cv::Scalar(210, 215, 220), cv::FILLED);
  const cv::Point holes[] = {{plate.x + 35, plate.y + 45}, {plate.x + 85, plate.y + 45},
                             {plate.x + 60, plate.y + 110}, {plate.x + 60, plate.y + 160}};
  for (int i = 0; i < 4; ++i) {
    if (defect == 2 && i == 2) continue;
    cv::circle(upright, holes[i], 12, cv::Scalar(40, 60, 120), cv::FILLED);
  }
  if (defect == 1) {
    cv::line(upright, {plate.x + 10, plate.y + 70}, {plate.x + 110, plate.y + 90},
             cv::Scalar(60, 60, 60), 3);
  } else if (defect == 3) {
    cv::circle(upright, {plate.x + 30, plate.y + 140}, 9, cv::Scalar(70, 40, 40), cv::FILLED);
  }

  cv::Mat turn = cv::getRotationMatrix2D(centre, angleDegrees, 1.0);
  turn.at<double>(0, 2) += shift.x;
  turn.at<double>(1, 2) += shift.y;
  cv::Mat picture;
  cv::warpAffine(upright, picture, turn, size, cv::INTER_LINEAR, cv::BORDER_CONSTANT,
                 cv::Scalar(30, 30, 30));
  cv::RNG rng(seed);
  cv::Mat noise(size, CV_16SC3);
  rng.fill(noise, cv::RNG::NORMAL, 0, 3);
  cv::Mat noisy;
  picture.convertTo(noisy, CV_16SC3);
  noisy += noise;
  noisy.convertTo(picture, CV_8UC3);
  return picture;
}

}  // namespace tallen::testing
