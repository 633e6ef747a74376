// A headless backend whose pads can claim force feedback, for the tests of joystick effects.
#pragma once

#include <cstdint>
#include <set>
#include <vector>

#include "platform/backend/HeadlessBackend.h"

class FeedbackBackend : public backend::HeadlessBackend {
 public:
  std::set<std::uint32_t> feedback;  // instances that claim it
  std::vector<backend::JoystickInfo> Joysticks() override {
    auto list = HeadlessBackend::Joysticks();
    for (auto& j : list) j.forceFeedback = feedback.count(j.instance) != 0;
    return list;
  }
};
