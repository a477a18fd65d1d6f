#include "app/sample_numbering.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace fennock {

namespace {

constexpr char kPrefix[] = "good_";
constexpr char kSuffix[] = ".jpg";
constexpr std::size_t kPrefixLength = sizeof kPrefix - 1;
constexpr std::size_t kSuffixLength = sizeof kSuffix - 1;
constexpr std::size_t kMaxDigits = 2;

// n of "good_<n>.jpg" for n in 1 .. kSamplesPerCycle; 0 for any other name.
int numberOf(const std::string& name) {
  if (name.size() <= kPrefixLength + kSuffixLength ||
      name.compare(0, kPrefixLength, kPrefix) != 0 ||
      name.compare(name.size() - kSuffixLength, kSuffixLength, kSuffix) != 0) {
    return 0;
  }
  const std::string digits =
      name.substr(kPrefixLength, name.size() - kPrefixLength - kSuffixLength);
  if (digits.size() > kMaxDigits || digits[0] == '0' ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    return 0;
  }
  const int number = std::stoi(digits);
  return number <= kSamplesPerCycle ? number : 0;
}

}  // namespace

int highestSampleNumber(const std::string& directory) {
  std::error_code error;
  std::filesystem::directory_iterator it(directory.empty() ? "." : directory, error);
  int highest = 0;
  for (; !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
    highest = std::max(highest, numberOf(it->path().filename().string()));
  }
  return highest;
}

int nextSampleNumber(int number) { return number >= kSamplesPerCycle ? 1 : number + 1; }

}  // namespace fennock
