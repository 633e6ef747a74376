// Position against what was heard: for every read of Position while playing that falls where
// the recording heard music, Position minus the heard frame in ms (+ is Position ahead).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "audioserver/Alignment.h"
#include "audioserver/Player.h"

namespace audioserver {

struct ErrorFigures {
  std::size_t count = 0;
  double mean = 0, sd = 0;
  double worst = 0;                  // the error farthest from 0, with its sign
  double worstAtS = 0;               // when, in seconds after the first read compared
  std::size_t beyondWorstLimit = 0;  // reads more than 5 ms off
};

struct Comparison {
  std::vector<std::int64_t> ns;
  std::vector<double> errorMs;
  ErrorFigures All() const;
  // Over reads between `fromS` and `toS` seconds after the first one compared.
  ErrorFigures Between(double fromS, double toS) const;
};

// How fast Position moved while playing, against the steady clock (1 is the music's speed).
double PositionSpeed(const std::vector<PositionRead>& reads);

Comparison Compare(const std::vector<PositionRead>& reads, const Alignment& heard);

std::string Format(const ErrorFigures& f);

}  // namespace audioserver
