#include "net/piece_pacer.h"

#include <algorithm>

namespace tolvex {

void PiecePacer::Moved(std::size_t asked, std::size_t moved, Duration took) {
  if (asked == 0) {
    // Each read takes what is there, often a small buffer's worth: judge the
    // rate over the reads of one target time.
    window_bytes_ += moved;
    window_time_ += took;
    if (window_time_ < limits_.target) {
      if (window_bytes_ >= limits_.floor) {
        piece_ = limits_.floor;
        window_bytes_ = 0;
        window_time_ = {};
      }
      return;
    }
    window_bytes_ = 0;
    window_time_ = {};
    return;
  }
  if (took > 2 * limits_.target) {
    const std::size_t half = piece_ / 2;
    piece_ = half >= limits_.floor ? half : limits_.first;
    window_bytes_ = 0;
    window_time_ = {};
  } else if (moved == asked && 2 * took <= limits_.target) {
    piece_ = std::min(piece_ * 2, limits_.ceiling);
  }
}

}  // namespace tolvex
