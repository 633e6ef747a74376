// The artwork of both programs, drawn in code: the pictures of the game's form and the two boss
// pictures that a stage start loads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "assets/gen/Image8.h"

namespace assets {

struct NamedPicture {
  std::string name;
  Image8 image;
  int patternWidth;                // 0: the whole picture
  std::uint32_t transparentColor;  // TColor
};

// The twelve pictures of the game's image list, in stored order.
std::vector<NamedPicture> GamePictures();

Image8 GrumbakPicture();  // 384 x 294, two 192-wide patterns
Image8 StakkoPicture();   // 192 x 96, two 96-wide patterns

}  // namespace assets
