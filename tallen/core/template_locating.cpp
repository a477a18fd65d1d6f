#include "core/template_locating.h"

#include "core/bright_mask.h"
#include "core/procedure_error.h"
#include "core/size_text.h"

#include <opencv2/imgproc.hpp>

namespace tallen {

cv::Point g_matchPoint(0, 0);

namespace {

constexpr char kMatchWindow[] = "テンプレートマッチング";
const cv::Scalar kRed(0, 0, 255, 0);
const cv::Scalar kWhite(255, 255, 255, 255);
constexpr int kScoreTextSize = 16;
constexpr int kScoreMargin = 10;
constexpr double kScoreFontScale = 1.0;
constexpr int kScoreThickness = 4;

}  // namespace

void requireTemplateFits(cv::Size templateSize, cv::Size pictureSize) {
  if (templateSize.width > pictureSize.width || templateSize.height > pictureSize.height) {
    throw InspectionError("template " + sizeText(templateSize) + " is larger than the picture " +
                          sizeText(pictureSize));
  }
}

TemplateMatch locateTemplate(cv::Mat& picture, const cv::Mat& templ, ImageViewer& viewer,
                             std::FILE* trace, MatchBuffers* buffers) {
  requireTemplateFits(templ.size(), picture.size());
  MatchBuffers local;
  MatchBuffers& work = buffers != nullptr ? *buffers : local;
  brightMask(picture, work.gray, work.pictureMask);
  brightMask(templ, work.templateGray, work.templateMask);

  cv::Mat& scores = work.scores;
  cv::matchTemplate(work.pictureMask, work.templateMask, scores, cv::TM_CCORR_NORMED);
  TemplateMatch match;
  cv::minMaxLoc(scores, nullptr, &match.score, nullptr, &match.point);
  const double best = match.score;
  if (trace != nullptr) std::fprintf(trace, "正規化相互相関関数=%lf\n", best);

  cv::rectangle(picture, match.point, match.point + cv::Point(templ.cols, templ.rows), kRed, 1,
                cv::LINE_8, 0);
  char text[kScoreTextSize];
  std::snprintf(text, sizeof text, "%.5f", best);
  cv::putText(picture, text, cv::Point(kScoreMargin, picture.rows - kScoreMargin),
              cv::FONT_HERSHEY_SIMPLEX, kScoreFontScale, kWhite, kScoreThickness, cv::LINE_8);
  viewer.show(kMatchWindow, picture);
  return match;
}

void cutMatchedPatch(const cv::Mat& picture, cv::Point matchPoint, cv::Size size, cv::Mat& patch) {
  const cv::Point2f centre(static_cast<float>(matchPoint.x + 0.5 * size.width),
                           static_cast<float>(matchPoint.y + 0.5 * size.height));
  cv::getRectSubPix(picture, size, centre, patch);
}

}  // namespace tallen
