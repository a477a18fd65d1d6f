#include "generator/demo_set.h"

namespace demo {

std::vector<NamedShot> goodSamples() {
  return {
      {"good_1", {0.0, {0.0, 0.0}, Defect::kNone, 101}},
      {"good_2", {7.0, {25.3, -14.6}, Defect::kNone, 102}},
      {"good_3", {-9.0, {-30.7, 10.2}, Defect::kNone, 103}},
      {"good_4", {4.0, {-15.4, -24.8}, Defect::kNone, 104}},
      {"good_5", {-5.0, {34.6, 19.5}, Defect::kNone, 105}},
      {"good_6", {10.0, {10.1, 29.7}, Defect::kNone, 106}},
      {"good_7", {-3.0, {-39.2, -9.9}, Defect::kNone, 107}},
      {"good_8", {2.0, {20.5, 5.4}, Defect::kNone, 108}},
  };
}

std::vector<NamedShot> inspectionPictures() {
  return {
      {"check_good_1", {-7.0, {15.2, -20.3}, Defect::kNone, 201}},
      {"check_good_2", {6.0, {-24.6, 15.1}, Defect::kNone, 202}},
      {"check_scratch", {5.0, {-10.4, 10.6}, Defect::kScratch, 203}},
      {"check_missing_hole", {-6.0, {19.8, -10.3}, Defect::kMissingFeature, 204}},
      {"check_blob", {8.0, {-20.2, -19.7}, Defect::kBlob, 205}},
  };
}

}  // namespace demo
