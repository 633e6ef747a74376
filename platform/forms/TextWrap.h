// Lines of text broken to fit a width, for boxes that must show their whole message inside the
// screen however long a line of it is.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/gdi/Fonts.h"

// Text's lines (CR, LF and CR LF end one), each broken further so that none is wider than
// MaxWidth as Measure counts it: after the last space that fits, the space itself dropped; and
// where a run without spaces (a path, Japanese text) is wider than a line by itself, between
// any two of its characters. A line always keeps at least one character, so a width too small
// for any still makes progress. Characters are never split inside their UTF-8 bytes.
std::vector<std::string> WrapText(const std::string& Text, int MaxWidth,
                                  const std::function<int(const std::string&)>& Measure);

// The face message boxes write in.
TFontSpec MessageFont(bool Bold = false);
// The widest a message box's text may run on a screen ScreenWidth pixels wide: half of it, a
// measure that reads well and leaves room for the frame, the icon and a box whose face is
// drawn in a font of its own.
int MessageTextLimit(int ScreenWidth);
// Text wrapped to MaxWidth as MessageFont measures it.
std::vector<std::string> WrapMessageText(const std::string& Text, int MaxWidth);
