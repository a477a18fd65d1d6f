#pragma once

#include <string>

namespace fennock {

// Samples are numbered 1 .. kSamplesPerCycle and then start again at 1.
constexpr int kSamplesPerCycle = 50;

// The highest n of the files good_<n>.jpg in `directory` (the working directory when empty) with
// n from 1 to kSamplesPerCycle, written as fennock writes it (no sign, no leading zero); 0 when
// there is none or the folder cannot be listed.
int highestSampleNumber(const std::string& directory);

// The number of the sample after sample `number` (0: none yet): number + 1, or 1 after the last
// of a cycle.
int nextSampleNumber(int number);

}  // namespace fennock
