// How much one call into the HTTP library should move. Few large calls
// keep a fast transfer near the library's own speed; small ones keep a
// slow line showing that it moves, and keep Cancel and the silence timer
// prompt where a call, once made, cannot be interrupted until it has
// moved all it was asked to. The pacer grows the piece while each one
// takes well under the target time and shrinks it when one takes well
// over, between a floor and a ceiling.
//
// For a reply, a piece of 0 means "ask only for what has arrived": a read
// of a fixed size would wait until that much is there, and a trickling
// reply would look silent meanwhile. The pacer leaves that mode only once
// the bytes that arrived within the target time reach the floor.
//
// One pacer per transfer, used by the thread that moves its bytes.
#pragma once

#include <chrono>
#include <cstddef>

namespace tolvex {

class PiecePacer {
 public:
  using Duration = std::chrono::steady_clock::duration;

  struct Limits {
    std::size_t floor;    // the smallest fixed piece
    std::size_t ceiling;  // the largest
    std::size_t first;    // where it starts: floor, or 0 for "what has arrived"
    Duration target;      // the time one piece should take
  };

  // Reads: start by asking for what has arrived; fixed pieces of 64 KiB to
  // 1 MiB once the reply moves that fast.
  static constexpr Limits kReply{64 * 1024, 1024 * 1024, 0, std::chrono::milliseconds(250)};
  // Writes: every write has a size; 64 KiB to 1 MiB.
  static constexpr Limits kBody{64 * 1024, 1024 * 1024, 64 * 1024, std::chrono::milliseconds(250)};

  explicit PiecePacer(const Limits& limits) : limits_(limits), piece_(limits.first) {}

  // The size of the next piece: 0 for "what has arrived".
  std::size_t Next() const { return piece_; }
  // A call asked for `asked` bytes (0: what had arrived), moved `moved`
  // and took `took`.
  void Moved(std::size_t asked, std::size_t moved, Duration took);

 private:
  Limits limits_;
  std::size_t piece_;
  // In "what has arrived" mode: what the calls since the window began moved.
  std::size_t window_bytes_ = 0;
  Duration window_time_{};
};

}  // namespace tolvex
