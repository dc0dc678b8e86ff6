// Raw deflate on a thread of its own, between a few buffers of fixed size,
// so that the thread driving an unpack reads the next compressed piece and
// checks and writes the last inflated one while zlib works. The helper
// thread touches memory only: every file stays with the driving thread, as
// the FileSystem port allows one thread at a time. Memory stays the same
// whatever the size of the member.
//
// Thread contract: one driving thread calls every member; the helper
// thread is private, and the destructor stops it wherever it is and joins
// it, so no path out of the driving code leaves it running.
#pragma once

#include <zlib.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace tolvex::zip {

// A raw-deflate zlib stream, ended with its owner.
class InflateStream {
 public:
  InflateStream();  // std::bad_alloc when zlib finds no memory
  ~InflateStream() { inflateEnd(&stream_); }
  InflateStream(const InflateStream&) = delete;
  InflateStream& operator=(const InflateStream&) = delete;
  z_stream* get() { return &stream_; }

 private:
  z_stream stream_{};
};

class InflateThread {
 public:
  static constexpr std::size_t kInputSize = 256 * 1024;
  static constexpr std::size_t kOutputSize = 512 * 1024;

  // Starts the helper; std::bad_alloc when zlib finds no memory,
  // std::system_error when the system gives no thread.
  InflateThread();
  ~InflateThread();
  InflateThread(const InflateThread&) = delete;
  InflateThread& operator=(const InflateThread&) = delete;

  struct Step {
    enum class Kind {
      kFillInput,  // read up to kInputSize bytes into `data`, then Push
      kOutput,     // `size` inflated bytes at `data`, then Release
      kFinished,   // the stream ended; `unused` bytes handed over lie past its end
      kStarved,    // the stream needs more than EndInput allowed
      kDamaged,    // not deflate data
      kFailed,     // `failure` (std::bad_alloc) stopped the helper
    };
    Kind kind = Kind::kFinished;
    std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::uint64_t unused = 0;
    std::exception_ptr failure;
    int slot = -1;
  };

  // Waits for the next thing to do. Input is asked for only while
  // `want_input` and the stream still runs; output comes in the stream's
  // order, and the end only once all output before it was given out.
  Step Next(bool want_input);
  void Push(const Step& fill, std::size_t size);
  void Release(const Step& output);
  // No input comes after what was pushed.
  void EndInput();

 private:
  enum class End { kRunning, kFinished, kStarved, kDamaged, kFailed };
  struct Ready {
    int slot;
    std::size_t size;
  };

  void Run();
  void Inflate();
  // Gives out what was inflated so far and ends the stream; `unused` is
  // what zlib left of its input, the pieces still queued are added to it.
  void Stop(End end, int out_slot, std::size_t filled, std::uint64_t unused = 0,
            std::exception_ptr failure = nullptr);

  InflateStream stream_;
  std::vector<std::vector<std::uint8_t>> inputs_;
  std::vector<std::vector<std::uint8_t>> outputs_;

  std::mutex mutex_;
  std::condition_variable caller_wake_;
  std::condition_variable helper_wake_;
  // Guarded by mutex_:
  std::deque<int> free_inputs_;
  std::deque<Ready> queued_inputs_;  // pushed, not yet taken by the helper
  std::deque<int> free_outputs_;
  std::deque<Ready> ready_outputs_;
  bool input_ended_ = false;
  bool stopping_ = false;
  End end_ = End::kRunning;
  std::uint64_t unused_ = 0;
  std::exception_ptr failure_;

  std::thread thread_;  // last: it starts once everything above exists
};

}  // namespace tolvex::zip
