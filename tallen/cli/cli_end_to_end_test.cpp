// Drives the command-line program itself, as a script on the line would.
#include "cli/cli_test_support.h"
#include "generator/demo_set.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace tallen {
namespace {

namespace fs = std::filesystem;
using cli_testing::InspectionArea;
using cli_testing::readFile;

struct ProgramRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the program in `directory` with `arguments` (already shell-quoted where needed).
ProgramRun runProgram(const InspectionArea& area, const std::string& arguments) {
  const std::string out = area.path("stdout.txt");
  const std::string err = area.path("stderr.txt");
  const std::string command = "cd '" + area.work() + "' && '" TALLEN_PROGRAM "' " + arguments +
                              " >'" + out + "' 2>'" + err + "'";
  const int raw = std::system(command.c_str());
  ProgramRun run;
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.out = readFile(out).value_or("");
  run.err = readFile(err).value_or("");
  fs::remove(out);
  fs::remove(err);
  return run;
}

int countLines(const std::string& text) {
  int n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

class Program : public ::testing::Test {
 protected:
  Program() {
    const std::vector<demo::NamedShot> goods = demo::goodSamples();
    for (size_t i = 0; i < 3; ++i) area_.writePicture(goods[i].name, goods[i].shot);
    for (const demo::NamedShot& shot : demo::inspectionPictures()) {
      area_.writePicture(shot.name, shot.shot);
    }
  }
  InspectionArea area_;
};

TEST_F(Program, RunsTheWholeFlowWithParsableOutput) {
  ProgramRun run = runProgram(area_, "template ../pictures/good_1.jpg");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("template cut from ../pictures/good_1.jpg"), std::string::npos);
  EXPECT_TRUE(fs::exists(area_.path("work/templImage.jpg")));

  run = runProgram(area_,
                   "register ../pictures/good_1.jpg ../pictures/good_2.jpg ../pictures/good_3.jpg");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("正規化相互相関関数="), std::string::npos);
  EXPECT_EQ(countLines(run.err), 3) << run.err;

  run = runProgram(area_,
                   "--quiet inspect --map ../maps ../pictures/check_good_1.jpg "
                   "../pictures/check_blob.jpg");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  std::istringstream lines(run.out);
  std::string line;
  std::vector<double> ratios;
  for (const char* image : {"../pictures/check_good_1.jpg", "../pictures/check_blob.jpg"}) {
    ASSERT_TRUE(std::getline(lines, line));
    const size_t tab = line.find('\t');
    ASSERT_EQ(tab, 6u) << line;  // "0.0123"
    EXPECT_EQ(line.substr(tab + 1), image);
    ratios.push_back(std::stod(line.substr(0, tab)));
  }
  EXPECT_FALSE(std::getline(lines, line));
  EXPECT_GT(ratios[1], ratios[0] + 0.01);
  EXPECT_TRUE(fs::exists(area_.path("maps/check_good_1_defects.png")));
  EXPECT_TRUE(fs::exists(area_.path("maps/check_blob_defects.png")));
}

// Everything an inspect run leaves: its status, both streams and the bytes of every map.
struct InspectOutcome {
  ProgramRun run;
  std::map<std::string, std::string> maps;
};

InspectOutcome inspectWithJobs(const InspectionArea& area, const std::string& jobs,
                               const std::string& pictures) {
  std::error_code ignored;
  fs::remove_all(area.path("maps"), ignored);
  InspectOutcome outcome;
  outcome.run = runProgram(area, "inspect --jobs " + jobs + " --map ../maps " + pictures);
  if (fs::exists(area.path("maps"))) {
    for (const fs::directory_entry& entry : fs::directory_iterator(area.path("maps"))) {
      outcome.maps[entry.path().filename().string()] = readFile(entry.path().string()).value_or("");
    }
  }
  return outcome;
}

struct JobsCase {
  const char* label;
  bool failsMidway;  // a picture smaller than the template sits in the middle of the batch
};

void PrintTo(const JobsCase& c, std::ostream* os) { *os << c.label; }

class ProgramJobs : public Program, public ::testing::WithParamInterface<JobsCase> {};

TEST_P(ProgramJobs, ParallelInspectionsPrintAndWriteWhatOneJobDoes) {
  ProgramRun run = runProgram(area_, "--quiet template ../pictures/good_1.jpg");
  ASSERT_EQ(run.status, 0) << run.err;
  run = runProgram(area_,
                   "--quiet register ../pictures/good_1.jpg ../pictures/good_2.jpg "
                   "../pictures/good_3.jpg");
  ASSERT_EQ(run.status, 0) << run.err;

  std::vector<std::string> names;
  for (const demo::NamedShot& shot : demo::inspectionPictures()) names.push_back(shot.name);
  for (const demo::NamedShot& shot : demo::goodSamples()) {
    if (fs::exists(area_.path("pictures/" + shot.name + ".jpg"))) names.push_back(shot.name);
  }
  if (GetParam().failsMidway) {
    area_.writePicture("tiny", demo::goodSamples()[0].shot, cv::Size(40, 30));
    names.insert(names.begin() + static_cast<long>(names.size() / 2), "tiny");
  }
  std::string pictures;
  for (const std::string& name : names) pictures += " ../pictures/" + name + ".jpg";

  const InspectOutcome one = inspectWithJobs(area_, "1", pictures);
  EXPECT_EQ(one.run.status, GetParam().failsMidway ? 1 : 0) << one.run.err;
  const size_t inspected = GetParam().failsMidway ? names.size() / 2 : names.size();
  EXPECT_EQ(one.maps.size(), inspected);
  EXPECT_NE(one.run.out.find("正規化相互相関関数="), std::string::npos);
  for (const char* jobs : {"2", "3"}) {
    SCOPED_TRACE(jobs);
    const InspectOutcome parallel = inspectWithJobs(area_, jobs, pictures);
    EXPECT_EQ(parallel.run.status, one.run.status);
    EXPECT_EQ(parallel.run.out, one.run.out);
    EXPECT_EQ(parallel.run.err, one.run.err);
    EXPECT_EQ(parallel.maps, one.maps);
  }
}

INSTANTIATE_TEST_SUITE_P(Program, ProgramJobs,
                         ::testing::ValuesIn(std::vector<JobsCase>{{"whole_batch", false},
                                                                   {"fails_midway", true}}),
                         [](const auto& info) { return std::string(info.param.label); });

struct StatusCase {
  const char* label;
  const char* arguments;
  int status;
  bool outputEmpty;  // standard output must stay empty
};

void PrintTo(const StatusCase& c, std::ostream* os) { *os << c.label; }

class ProgramStatus : public Program, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(ProgramStatus, ExitsWithTheDocumentedStatus) {
  const ProgramRun run = runProgram(area_, GetParam().arguments);
  EXPECT_EQ(run.status, GetParam().status) << run.err;
  if (GetParam().outputEmpty) EXPECT_EQ(run.out, "");
  if (GetParam().status != 0) EXPECT_NE(run.err, "");
}

const StatusCase kStatusCases[] = {
    {"help", "--help", 0, false},
    {"template", "--quiet template ../pictures/good_1.jpg", 0, true},
    {"no_model_yet", "inspect ../pictures/check_good_1.jpg", 1, true},
    {"missing_picture", "template ../pictures/none.jpg", 1, true},
    {"no_command", "--quiet", 2, true},
    {"unknown_option", "inspect --fast ../pictures/check_good_1.jpg", 2, true},
    {"no_jobs", "inspect --jobs 0 ../pictures/check_good_1.jpg", 2, true},
    {"version", "--version", 0, false},
    {"status_without_record", "status", 3, false},
    {"status_elsewhere", "-C .. status --format json", 3, false},
    {"no_such_directory", "-C ../none status", 1, true},
};

INSTANTIATE_TEST_SUITE_P(Program, ProgramStatus, ::testing::ValuesIn(kStatusCases),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace tallen
