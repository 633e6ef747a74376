#include "platform/forms/TextWrap.h"

#include <algorithm>

namespace {

std::size_t CharLength(const std::string& S, std::size_t At) {
  const auto lead = static_cast<unsigned char>(S[At]);
  std::size_t n = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  // A sequence cut short (or stray continuation bytes) goes as far as its bytes go.
  std::size_t i = 1;
  while (i < n && At + i < S.size() && (static_cast<unsigned char>(S[At + i]) & 0xC0) == 0x80) ++i;
  return i;
}

std::string TrimRight(std::string S) {
  while (!S.empty() && S.back() == ' ') S.pop_back();
  return S;
}

void WrapOne(const std::string& Line, int MaxWidth,
             const std::function<int(const std::string&)>& Measure, std::vector<std::string>& Out) {
  std::string cur;
  std::size_t space = std::string::npos;  // where the last space of `cur` stands
  bool wrapped = false;                   // `cur` begins after a break made here
  for (std::size_t i = 0; i < Line.size();) {
    const std::size_t n = CharLength(Line, i);
    const std::string ch = Line.substr(i, n);
    if (cur.empty() && wrapped && ch == " ") {
      i += n;  // no line begins with the spaces of its break
      continue;
    }
    if (cur.empty() || Measure(cur + ch) <= MaxWidth) {
      if (ch == " ") space = cur.size();
      cur += ch;
      i += n;
      continue;
    }
    // `ch` does not fit. Break after the last space that has words before it, else right here;
    // then `ch` is tried again on the new line.
    wrapped = true;
    if (ch == " ") {
      Out.push_back(TrimRight(cur));
      cur.clear();
      i += n;
    } else if (space != std::string::npos && cur.find_first_not_of(' ') < space) {
      Out.push_back(TrimRight(cur.substr(0, space)));
      cur.erase(0, space + 1);  // the last space: what follows it has none
    } else {
      Out.push_back(cur);
      cur.clear();
    }
    space = std::string::npos;
  }
  Out.push_back(cur);
}

}  // namespace

std::vector<std::string> WrapText(const std::string& Text, int MaxWidth,
                                  const std::function<int(const std::string&)>& Measure) {
  std::vector<std::string> lines;
  std::string line;
  for (std::size_t i = 0; i < Text.size(); ++i) {
    const char c = Text[i];
    if (c == '\r' || c == '\n') {
      WrapOne(line, MaxWidth, Measure, lines);
      line.clear();
      if (c == '\r' && i + 1 < Text.size() && Text[i + 1] == '\n') ++i;
    } else {
      line += c;
    }
  }
  WrapOne(line, MaxWidth, Measure, lines);
  return lines;
}

TFontSpec MessageFont(bool Bold) {
  TFontSpec f;
  f.Name = "MS UI Gothic";
  f.Height = -12;
  f.Bold = Bold;
  return f;
}

int MessageTextLimit(int ScreenWidth) { return std::max(ScreenWidth / 2, 1); }

std::vector<std::string> WrapMessageText(const std::string& Text, int MaxWidth) {
  TTextEngine& engine = TTextEngine::Instance();
  const TFontSpec font = MessageFont();
  return WrapText(Text, MaxWidth, [&](const std::string& s) { return engine.Width(font, s); });
}
