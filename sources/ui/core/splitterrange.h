// Where a splitter bar may be dragged: from `lower` pixels before its starting position to
// `upper` pixels after it. Positions are the bar's centre along the axis it moves on.
#pragma once

#include <algorithm>

struct SplitterRange {
  // Both -1 until a range is set: the bar then moves freely.
  int minimum = -1;
  int maximum = -1;

  static SplitterRange Around(int root, int lower, int upper) { return {root - lower, root + upper}; }
  bool IsSet() const { return !(minimum == -1 && maximum == -1); }
  int Clamp(int position) const {
    if (!IsSet() || minimum > maximum) return position;
    return std::clamp(position, minimum, maximum);
  }
};
