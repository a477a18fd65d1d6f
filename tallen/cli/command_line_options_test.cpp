#include "cli/command_line_options.h"

#include <gtest/gtest.h>

#include <functional>

#include <ostream>
#include <string>
#include <vector>

namespace tallen {
namespace {

using Command = CommandLineOptions::Command;
using Arguments = std::vector<std::string>;

struct ValidCase {
  const char* label;
  Arguments arguments;
  Command command;
  bool quiet;
  int firstSample;
  std::string mapDirectory;
  Arguments images;
};

void PrintTo(const ValidCase& c, std::ostream* os) { *os << c.label; }

class ParseValid : public ::testing::TestWithParam<ValidCase> {};

TEST_P(ParseValid, GivesTheCommandAndItsOperands) {
  const ValidCase& c = GetParam();
  const CommandLineOptions options = parseCommandLine(c.arguments);
  EXPECT_EQ(options.command, c.command);
  EXPECT_EQ(options.quiet, c.quiet);
  EXPECT_EQ(options.firstSample, c.firstSample);
  EXPECT_EQ(options.mapDirectory, c.mapDirectory);
  EXPECT_EQ(options.images, c.images);
}

const ValidCase kValidCases[] = {
    {"template", {"template", "a.jpg"}, Command::kTemplate, false, 1, "", {"a.jpg"}},
    {"quiet_template",
     {"--quiet", "template", "a.jpg"},
     Command::kTemplate,
     true,
     1,
     "",
     {"a.jpg"}},
    {"register_from_one",
     {"register", "a.jpg", "b.jpg"},
     Command::kRegister,
     false,
     1,
     "",
     {"a.jpg", "b.jpg"}},
    {"register_start",
     {"register", "--start", "4", "a.jpg"},
     Command::kRegister,
     false,
     4,
     "",
     {"a.jpg"}},
    {"register_start_equals",
     {"register", "--start=12", "a.jpg"},
     Command::kRegister,
     false,
     12,
     "",
     {"a.jpg"}},
    {"register_start_after_images",
     {"register", "a.jpg", "--start", "3", "b.jpg"},
     Command::kRegister,
     false,
     3,
     "",
     {"a.jpg", "b.jpg"}},
    {"register_up_to_999",
     {"register", "--start", "998", "a.jpg", "b.jpg"},
     Command::kRegister,
     false,
     998,
     "",
     {"a.jpg", "b.jpg"}},
    {"register_after_1000",
     {"register", "--start", "1001", "a.jpg"},
     Command::kRegister,
     false,
     1001,
     "",
     {"a.jpg"}},
    {"inspect",
     {"inspect", "a.jpg", "dir/b.png"},
     Command::kInspect,
     false,
     1,
     "",
     {"a.jpg", "dir/b.png"}},
    {"inspect_map",
     {"--quiet", "inspect", "--map", "maps", "a.jpg"},
     Command::kInspect,
     true,
     1,
     "maps",
     {"a.jpg"}},
    {"inspect_map_equals",
     {"inspect", "--map=out/maps", "a.jpg"},
     Command::kInspect,
     false,
     1,
     "out/maps",
     {"a.jpg"}},
    {"double_dash_ends_options",
     {"inspect", "--", "--map", "-x.jpg"},
     Command::kInspect,
     false,
     1,
     "",
     {"--map", "-x.jpg"}},
    {"lone_dash_is_an_image", {"inspect", "-"}, Command::kInspect, false, 1, "", {"-"}},
    {"help", {"--help"}, Command::kHelp, false, 1, "", {}},
    {"help_short", {"-h"}, Command::kHelp, false, 1, "", {}},
    {"version", {"--version"}, Command::kVersion, false, 1, "", {}},
    {"help_after_command", {"register", "--help"}, Command::kHelp, false, 1, "", {}},
    {"help_wins_over_missing_image", {"--quiet", "inspect", "-h"}, Command::kHelp, true, 1, "", {}},
};

INSTANTIATE_TEST_SUITE_P(CommandLineOptions, ParseValid, ::testing::ValuesIn(kValidCases),
                         [](const auto& info) { return std::string(info.param.label); });

struct UsageCase {
  const char* label;
  Arguments arguments;
  const char* messagePart;  // the message must say what is wrong
};

void PrintTo(const UsageCase& c, std::ostream* os) { *os << c.label; }

class ParseUsageError : public ::testing::TestWithParam<UsageCase> {};

TEST_P(ParseUsageError, ThrowsSayingWhatIsWrong) {
  const UsageCase& c = GetParam();
  try {
    parseCommandLine(c.arguments);
    FAIL() << "no UsageError";
  } catch (const UsageError& error) {
    EXPECT_NE(std::string(error.what()).find(c.messagePart), std::string::npos) << error.what();
  }
}

const UsageCase kUsageCases[] = {
    {"nothing", {}, "no command"},
    {"only_quiet", {"--quiet"}, "no command"},
    {"unknown_command", {"judge", "a.jpg"}, "unknown command 'judge'"},
    {"unknown_global_option", {"--verbose", "inspect", "a.jpg"}, "unknown option '--verbose'"},
    {"quiet_after_command", {"inspect", "--quiet", "a.jpg"}, "unknown option '--quiet'"},
    {"template_without_image", {"template"}, "template needs an image"},
    {"template_two_images", {"template", "a.jpg", "b.jpg"}, "exactly one image"},
    {"template_with_start", {"template", "--start", "2", "a.jpg"}, "for template"},
    {"register_without_image", {"register", "--start", "2"}, "register needs an image"},
    {"register_start_zero", {"register", "--start", "0", "a.jpg"}, "not '0'"},
    {"register_start_negative", {"register", "--start", "-3", "a.jpg"}, "not '-3'"},
    {"register_start_text", {"register", "--start", "two", "a.jpg"}, "not 'two'"},
    {"register_start_trailing", {"register", "--start=3x", "a.jpg"}, "not '3x'"},
    {"register_start_overflow", {"register", "--start", "99999999999", "a.jpg"}, "not '9999"},
    {"register_start_missing_value", {"register", "--start"}, "--start needs a value"},
    {"register_start_twice", {"register", "--start", "2", "--start", "3", "a.jpg"}, "twice"},
    {"register_onto_1000", {"register", "--start", "1000", "a.jpg"}, "inspection mode"},
    {"register_across_1000", {"register", "--start", "999", "a.jpg", "b.jpg"}, "inspection mode"},
    {"register_beyond_int", {"register", "--start", "2147483647", "a.jpg", "b.jpg"}, "beyond"},
    {"register_with_map", {"register", "--map", "m", "a.jpg"}, "for register"},
    {"inspect_without_image", {"inspect", "--map", "maps"}, "inspect needs an image"},
    {"inspect_map_empty", {"inspect", "--map=", "a.jpg"}, "--map needs a directory"},
    {"inspect_map_twice", {"inspect", "--map", "a", "--map", "b", "x.jpg"}, "twice"},
    {"inspect_same_stem", {"inspect", "--map", "m", "a/x.jpg", "b/x.png"}, "x_defects.png"},
    {"overlay_same_stem", {"inspect", "--overlay", "o", "a/x.jpg", "b/x.png"}, "x_overlay.png"},
    {"overlay_empty", {"inspect", "--overlay=", "a.jpg"}, "--overlay needs a directory"},
    {"new_with_start", {"register", "--new", "--start", "3", "a.jpg"}, "give one of them"},
    {"min_score_above_one", {"register", "--min-score", "1.5", "a.jpg"}, "not '1.5'"},
    {"min_score_negative", {"inspect", "--min-score", "-0.1", "a.jpg"}, "not '-0.1'"},
    {"min_score_text", {"inspect", "--min-score=high", "a.jpg"}, "not 'high'"},
    {"min_score_exponent", {"inspect", "--min-score", "1e-1", "a.jpg"}, "not '1e-1'"},
    {"max_ratio_for_register", {"register", "--max-ratio", "0.1", "a.jpg"}, "for register"},
    {"max_ratio_twice", {"inspect", "--max-ratio", "0.1", "--max-ratio=0.2", "a.jpg"}, "twice"},
    {"max_ratio_missing_value", {"inspect", "a.jpg", "--max-ratio"}, "--max-ratio needs a value"},
    {"format_unknown", {"inspect", "--format", "xml", "a.jpg"}, "tsv, csv or json, not 'xml'"},
    {"format_of_status", {"status", "--format", "csv"}, "text or json, not 'csv'"},
    {"format_for_template", {"template", "--format", "json", "a.jpg"}, "for template"},
    {"new_for_inspect", {"inspect", "--new", "a.jpg"}, "for inspect"},
    {"status_with_image", {"status", "a.jpg"}, "status takes no image"},
    {"directory_after_command", {"inspect", "-C", "w", "a.jpg"}, "unknown option '-C'"},
    {"directory_missing", {"--quiet", "-C"}, "-C needs a directory"},
    {"directory_twice", {"-C", "a", "-C", "b", "status"}, "-C given twice"},
    {"inspect_no_jobs", {"inspect", "--jobs", "0", "a.jpg"}, "--jobs needs a number"},
    {"inspect_jobs_text", {"inspect", "--jobs=two", "a.jpg"}, "not 'two'"},
    {"inspect_jobs_huge", {"inspect", "--jobs", "99999999999", "a.jpg"}, "from 1 to 64"},
    {"inspect_jobs_twice", {"inspect", "--jobs", "1", "--jobs", "2", "a.jpg"}, "twice"},
    {"register_with_jobs", {"register", "--jobs", "2", "a.jpg"}, "for register"},
};

INSTANTIATE_TEST_SUITE_P(CommandLineOptions, ParseUsageError, ::testing::ValuesIn(kUsageCases),
                         [](const auto& info) { return std::string(info.param.label); });

// The options beyond the historical ones, each with what it must set.
struct OptionCase {
  const char* label;
  Arguments arguments;
  std::function<bool(const CommandLineOptions&)> holds;
};

void PrintTo(const OptionCase& c, std::ostream* os) { *os << c.label; }

class ParseOption : public ::testing::TestWithParam<OptionCase> {};

TEST_P(ParseOption, SetsWhatItSays) {
  EXPECT_TRUE(GetParam().holds(parseCommandLine(GetParam().arguments)));
}

const OptionCase kOptionCases[] = {
    {"register_defaults",
     {"register", "a.jpg"},
     [](const CommandLineOptions& o) {
       return !o.startGiven && !o.newModel && o.minScore == kDefaultMinScore &&
              o.workingDirectory.empty() && o.format == OutputFormat::kTsv;
     }},
    {"register_new",
     {"register", "--new", "a.jpg"},
     [](const CommandLineOptions& o) { return o.newModel && o.firstSample == 1; }},
    {"register_start_given",
     {"register", "--start", "1", "a.jpg"},
     [](const CommandLineOptions& o) { return o.startGiven && o.firstSample == 1; }},
    {"register_min_score_off",
     {"register", "--min-score", "0", "a.jpg"},
     [](const CommandLineOptions& o) { return o.minScore == 0.0; }},
    {"inspect_verdicts",
     {"inspect", "--max-ratio=0.005", "--min-score", "0.95", "a.jpg"},
     [](const CommandLineOptions& o) { return o.maxRatio == 0.005 && o.minScore == 0.95; }},
    {"inspect_no_verdicts",
     {"inspect", "a.jpg"},
     [](const CommandLineOptions& o) { return !o.maxRatio.has_value(); }},
    {"inspect_json_overlay",
     {"inspect", "--format", "json", "--overlay", "ov", "a.jpg"},
     [](const CommandLineOptions& o) {
       return o.format == OutputFormat::kJson && o.overlayDirectory == "ov";
     }},
    {"inspect_csv",
     {"inspect", "--format=csv", "a.jpg"},
     [](const CommandLineOptions& o) { return o.format == OutputFormat::kCsv; }},
    {"status_text",
     {"status"},
     [](const CommandLineOptions& o) { return o.command == Command::kStatus && o.images.empty(); }},
    {"status_json",
     {"status", "--format", "json"},
     [](const CommandLineOptions& o) { return o.format == OutputFormat::kJson; }},
    {"directory_then_quiet",
     {"-C", "line/work", "--quiet", "status"},
     [](const CommandLineOptions& o) { return o.quiet && o.workingDirectory == "line/work"; }},
    {"quiet_then_attached_directory",
     {"--quiet", "-Cline", "inspect", "a.jpg"},
     [](const CommandLineOptions& o) { return o.quiet && o.workingDirectory == "line"; }},
    {"version",
     {"--version"},
     [](const CommandLineOptions& o) { return o.command == Command::kVersion; }},
    {"version_after_quiet",
     {"--quiet", "--version", "junk"},
     [](const CommandLineOptions& o) { return o.command == Command::kVersion; }},
    {"stdin_list",
     {"register", "--start", "999", "-"},
     [](const CommandLineOptions& o) { return readsPicturesFromInput(o); }},
};

INSTANTIATE_TEST_SUITE_P(CommandLineOptions, ParseOption, ::testing::ValuesIn(kOptionCases),
                         [](const auto& info) { return std::string(info.param.label); });

// The list from standard input is checked like one on the command line.
TEST(CommandLineOptions, ReadListIsCheckedAgain) {
  CommandLineOptions options = parseCommandLine({"register", "--start", "999", "-"});
  options.images = {"a.jpg", "b.jpg"};
  EXPECT_THROW(checkPictureList(options), UsageError);
  options = parseCommandLine({"inspect", "--map", "m", "-"});
  options.images = {"a/x.jpg", "b/x.jpg"};
  EXPECT_THROW(checkPictureList(options), UsageError);
}

TEST(CommandLineOptions, HelpNamesEveryOptionAndExitStatus) {
  const std::string help = usageText();
  for (const char* part :
       {"--quiet", "-C DIR", "--help", "--version", "--start N", "--new", "--min-score S",
        "--map DIR", "--overlay DIR", "--max-ratio R", "--format tsv|csv|json",
        "status [--format text|json]", "'-'", "0 success", "1 error", "2 bad usage", "3 inspect"}) {
    EXPECT_NE(help.find(part), std::string::npos) << part;
  }
}

TEST(CommandLineOptions, JobsDefaultToOnePerCoreAndTakeBothSpellings) {
  EXPECT_EQ(parseCommandLine({"inspect", "a.jpg"}).jobs, 0);
  const CommandLineOptions spaced = parseCommandLine({"inspect", "--jobs", "2", "a.jpg", "b.jpg"});
  EXPECT_EQ(spaced.jobs, 2);
  EXPECT_EQ(spaced.images, (Arguments{"a.jpg", "b.jpg"}));
  EXPECT_EQ(parseCommandLine({"inspect", "--map", "m", "--jobs=64", "a.jpg"}).jobs, 64);
}

TEST(CommandLineOptions, SameStemIsFineWithoutMaps) {
  EXPECT_EQ(parseCommandLine({"inspect", "a/x.jpg", "b/x.png"}).images.size(), 2u);
}

}  // namespace
}  // namespace tallen
