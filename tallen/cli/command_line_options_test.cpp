#include "cli/command_line_options.h"

#include <gtest/gtest.h>

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
    {"inspect_no_jobs", {"inspect", "--jobs", "0", "a.jpg"}, "--jobs needs a number"},
    {"inspect_jobs_text", {"inspect", "--jobs=two", "a.jpg"}, "not 'two'"},
    {"inspect_jobs_huge", {"inspect", "--jobs", "99999999999", "a.jpg"}, "from 1 to 64"},
    {"inspect_jobs_twice", {"inspect", "--jobs", "1", "--jobs", "2", "a.jpg"}, "twice"},
    {"register_with_jobs", {"register", "--jobs", "2", "a.jpg"}, "for register"},
};

INSTANTIATE_TEST_SUITE_P(CommandLineOptions, ParseUsageError, ::testing::ValuesIn(kUsageCases),
                         [](const auto& info) { return std::string(info.param.label); });

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
