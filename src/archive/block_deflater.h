// Raw deflate of a large member in fixed blocks on helper threads, so a
// pack uses the PC's cores. Each block is deflated on its own, primed with
// the last 32 KiB of the block before it, and ends on a byte boundary
// (a sync flush; the last one finishes the stream), so the blocks laid end
// to end are one deflate stream. The blocks depend only on the data: the
// archive is the same byte for byte whatever the number of cores.
//
// Thread contract: one driving thread calls every member and does every
// read and write; the helpers touch memory only. The destructor stops the
// helpers wherever they are and joins them, so no path out of the driving
// code leaves one running. Memory is bounded by Capacity() blocks in hand.
#pragma once

#include <zlib.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace tolvex::zip {

// A raw-deflate zlib stream at `level`, ended with its owner.
class DeflateStream {
 public:
  explicit DeflateStream(int level);  // std::bad_alloc when zlib finds no memory
  ~DeflateStream() { deflateEnd(&stream_); }
  DeflateStream(const DeflateStream&) = delete;
  DeflateStream& operator=(const DeflateStream&) = delete;
  z_stream* get() { return &stream_; }

 private:
  z_stream stream_{};
};

class BlockDeflater {
 public:
  static constexpr std::size_t kBlockSize = 512 * 1024;
  static constexpr std::size_t kDictionarySize = 32 * 1024;

  // `helpers` threads (at least one) deflating at `level`;
  // std::system_error when the system gives no thread.
  BlockDeflater(int level, int helpers);
  ~BlockDeflater();
  BlockDeflater(const BlockDeflater&) = delete;
  BlockDeflater& operator=(const BlockDeflater&) = delete;

  // The helpers for this PC: one per processor, at most four.
  static int HelpersForThisMachine();

  // Blocks handed over and not yet taken, and how many may be.
  std::size_t InHand() const;
  std::size_t Capacity() const { return capacity_; }

  // Hands over the member's next block (at most kBlockSize bytes; only the
  // last may be shorter). `last`: the member ends with it.
  void Submit(std::vector<std::uint8_t> block, bool last);
  // The deflated form of the oldest block not yet taken, once it is ready.
  // Rethrows what stopped its helper (std::bad_alloc).
  std::vector<std::uint8_t> Take();

 private:
  struct Job {
    std::vector<std::uint8_t> input;
    std::vector<std::uint8_t> dictionary;
    bool last = false;
    bool started = false;
    bool done = false;
    std::vector<std::uint8_t> output;
    std::exception_ptr failure;
  };

  void Run();
  void Stop();

  const int level_;
  const std::size_t capacity_;
  std::vector<std::uint8_t> tail_;  // the last bytes handed over: the next block's dictionary

  mutable std::mutex mutex_;
  std::condition_variable caller_wake_;
  std::condition_variable helper_wake_;
  // Guarded by mutex_. A job's fields are its helper's while it runs.
  std::deque<std::unique_ptr<Job>> jobs_;  // oldest first
  bool stopping_ = false;

  std::vector<std::thread> threads_;  // last: they start once everything above exists
};

}  // namespace tolvex::zip
