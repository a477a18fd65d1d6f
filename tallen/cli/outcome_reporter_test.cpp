#include "cli/outcome_reporter.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <string>

namespace tallen {
namespace {

InspectionOutcome outcome(const std::string& path) {
  InspectionOutcome o;
  o.path = path;
  o.ratio = 0.0139f;
  o.match = {cv::Point(12, 34), 0.9876543};
  o.verdict = Verdict::kFail;
  o.mapPath = "maps/x_defects.png";
  return o;
}

InspectionSettings judgedWithMaps() {
  InspectionSettings settings;
  settings.maxRatio = 0.01;
  settings.mapDirectory = "maps";
  return settings;
}

TEST(OutcomeReporter, TsvIsRatioTabPathThenVerdict) {
  InspectionSettings plain;
  EXPECT_EQ(OutcomeReporter(OutputFormat::kTsv, plain, stdout).line(outcome("a b.jpg")),
            "0.0139\ta b.jpg");
  EXPECT_EQ(OutcomeReporter(OutputFormat::kTsv, judgedWithMaps(), stdout).line(outcome("a.jpg")),
            "0.0139\ta.jpg\tfail");
}

TEST(OutcomeReporter, CsvQuotesOnlyWhereNeeded) {
  const OutcomeReporter reporter(OutputFormat::kCsv, judgedWithMaps(), stdout);
  EXPECT_EQ(reporter.line(outcome("a.jpg")), "a.jpg,0.0139,0.987654,12,34,fail,maps/x_defects.png");
  EXPECT_EQ(reporter.line(outcome("a, \"b\".jpg")),
            "\"a, \"\"b\"\".jpg\",0.0139,0.987654,12,34,fail,maps/x_defects.png");
  InspectionOutcome located = outcome("c.jpg");
  located.verdict = Verdict::kNotLocated;
  EXPECT_EQ(reporter.line(located), "c.jpg,0.0139,0.987654,12,34,not located,maps/x_defects.png");
}

TEST(OutcomeReporter, JsonHasTheFieldsAskedFor) {
  const nlohmann::json judged = nlohmann::json::parse(
      OutcomeReporter(OutputFormat::kJson, judgedWithMaps(), stdout).line(outcome("a\n.jpg")));
  EXPECT_EQ(judged["path"], "a\n.jpg");
  EXPECT_DOUBLE_EQ(judged["ratio"].get<double>(), 0.0139);
  EXPECT_DOUBLE_EQ(judged["matchScore"].get<double>(), 0.987654);
  EXPECT_EQ(judged["matchPoint"], (nlohmann::json{{"x", 12}, {"y", 34}}));
  EXPECT_EQ(judged["verdict"], "fail");
  EXPECT_EQ(judged["map"], "maps/x_defects.png");
  EXPECT_FALSE(judged.contains("overlay"));

  const nlohmann::json plain = nlohmann::json::parse(
      OutcomeReporter(OutputFormat::kJson, InspectionSettings(), stdout).line(outcome("a.jpg")));
  EXPECT_FALSE(plain.contains("verdict"));
  EXPECT_FALSE(plain.contains("map"));
  // A name that is not UTF-8 still gives one valid JSON line.
  EXPECT_NO_THROW(
      nlohmann::json::parse(OutcomeReporter(OutputFormat::kJson, InspectionSettings(), stdout)
                                .line(outcome("\xff.jpg"))));
}

}  // namespace
}  // namespace tallen
