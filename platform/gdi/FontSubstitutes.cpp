#include "platform/gdi/FontSubstitutes.h"

#include <map>

namespace {

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// Keys in lower case. Each stand-in is a humanist sans of about the named face's width in every
// weight the programs use, so texts placed for the named face keep their places: the game's
// 80-point bold title, placed at x 80 in a 512-pixel window, is about 430 pixels wide in these
// faces and a third wider in the default bold sans.
const std::map<std::string, std::vector<std::string>>& Table() {
  static const std::map<std::string, std::vector<std::string>> table = {
      {"myriad apple", {"Cabin"}},
  };
  return table;
}

}  // namespace

const std::vector<std::string>& FontSubstitutesFor(const std::string& family) {
  static const std::vector<std::string> none;
  const auto it = Table().find(Lower(family));
  return it == Table().end() ? none : it->second;
}
