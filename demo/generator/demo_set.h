#pragma once

#include "generator/product_scene.h"

#include <string>
#include <vector>

namespace demo {

// A shot with the file stem it is saved under.
struct NamedShot {
  std::string name;
  ProductShot shot;
};

// Good products at several poses; the first one is the template's source, all are registered.
std::vector<NamedShot> goodSamples();

// Pictures to inspect: good products at poses not registered, then one of each defect.
std::vector<NamedShot> inspectionPictures();

}  // namespace demo
