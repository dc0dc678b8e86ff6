#include "archive/inflate_thread.h"

#include <new>

namespace tolvex::zip {

namespace {

// Three of each: one the helper works on, one the driving thread works
// on, one waiting between them, so neither side waits while the other
// keeps up.
constexpr int kInputs = 3;
constexpr int kOutputs = 3;

}  // namespace

InflateStream::InflateStream() {
  if (inflateInit2(&stream_, -MAX_WBITS) != Z_OK) throw std::bad_alloc();
}

InflateThread::InflateThread()
    : inputs_(kInputs, std::vector<std::uint8_t>(kInputSize)),
      outputs_(kOutputs, std::vector<std::uint8_t>(kOutputSize)) {
  for (int i = 0; i < kInputs; ++i) free_inputs_.push_back(i);
  for (int i = 0; i < kOutputs; ++i) free_outputs_.push_back(i);
  thread_ = std::thread([this] { Run(); });
}

InflateThread::~InflateThread() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  helper_wake_.notify_one();
  thread_.join();
}

InflateThread::Step InflateThread::Next(bool want_input) {
  std::unique_lock<std::mutex> lock(mutex_);
  const auto input_wanted = [&] {
    return want_input && end_ == End::kRunning && !free_inputs_.empty();
  };
  caller_wake_.wait(
      lock, [&] { return input_wanted() || !ready_outputs_.empty() || end_ != End::kRunning; });
  Step step;
  // Input first: reading a piece is quick, and the helper must not run dry.
  if (input_wanted()) {
    step.kind = Step::Kind::kFillInput;
    step.slot = free_inputs_.front();
    free_inputs_.pop_front();
    step.data = inputs_[step.slot].data();
    return step;
  }
  if (!ready_outputs_.empty()) {
    const auto ready = ready_outputs_.front();
    ready_outputs_.pop_front();
    step.kind = Step::Kind::kOutput;
    step.slot = ready.slot;
    step.data = outputs_[ready.slot].data();
    step.size = ready.size;
    return step;
  }
  switch (end_) {
    case End::kStarved:
      step.kind = Step::Kind::kStarved;
      break;
    case End::kDamaged:
      step.kind = Step::Kind::kDamaged;
      break;
    case End::kFailed:
      step.kind = Step::Kind::kFailed;
      step.failure = failure_;
      break;
    default:
      step.kind = Step::Kind::kFinished;
      step.unused = unused_;
  }
  return step;
}

void InflateThread::Push(const Step& fill, std::size_t size) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queued_inputs_.push_back({fill.slot, size});
  }
  helper_wake_.notify_one();
}

void InflateThread::Release(const Step& output) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    free_outputs_.push_back(output.slot);
  }
  helper_wake_.notify_one();
}

void InflateThread::EndInput() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    input_ended_ = true;
  }
  helper_wake_.notify_one();
}

void InflateThread::Run() {
  try {
    Inflate();
  } catch (...) {
    // A lock or a wait the system failed: the member stops as on any fault.
    Stop(End::kFailed, -1, 0, 0, std::current_exception());
  }
}

void InflateThread::Inflate() {
  z_stream* z = stream_.get();
  int in_slot = -1;
  int out_slot = -1;
  std::size_t filled = 0;
  // zlib may hold output back when the buffer fills even though it has
  // taken all input, so only an output buffer left unfilled means that
  // more input is needed.
  bool needs_input = true;
  while (true) {
    if (needs_input && z->avail_in == 0) {
      std::unique_lock<std::mutex> lock(mutex_);
      if (in_slot >= 0) {
        free_inputs_.push_back(in_slot);
        in_slot = -1;
        caller_wake_.notify_one();
      }
      helper_wake_.wait(lock, [&] { return stopping_ || !queued_inputs_.empty() || input_ended_; });
      if (stopping_) return;
      if (queued_inputs_.empty()) {
        lock.unlock();
        return Stop(End::kStarved, out_slot, filled);
      }
      const auto next = queued_inputs_.front();
      queued_inputs_.pop_front();
      in_slot = next.slot;
      z->next_in = inputs_[in_slot].data();
      z->avail_in = static_cast<uInt>(next.size);
    }
    if (out_slot < 0) {
      std::unique_lock<std::mutex> lock(mutex_);
      helper_wake_.wait(lock, [&] { return stopping_ || !free_outputs_.empty(); });
      if (stopping_) return;
      out_slot = free_outputs_.front();
      free_outputs_.pop_front();
      filled = 0;
    }
    z->next_out = outputs_[out_slot].data() + filled;
    z->avail_out = static_cast<uInt>(kOutputSize - filled);
    const int status = inflate(z, Z_NO_FLUSH);
    if (status == Z_MEM_ERROR) {
      return Stop(End::kFailed, out_slot, filled, 0, std::make_exception_ptr(std::bad_alloc()));
    }
    if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
      // What this call made is not handed on: the damage lies in it.
      return Stop(End::kDamaged, out_slot, filled);
    }
    filled = kOutputSize - z->avail_out;
    if (status == Z_STREAM_END) return Stop(End::kFinished, out_slot, filled, z->avail_in);
    needs_input = z->avail_out != 0;
    if (z->avail_out == 0) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        ready_outputs_.push_back({out_slot, filled});
      }
      caller_wake_.notify_one();
      out_slot = -1;
    }
  }
}

void InflateThread::Stop(End end, int out_slot, std::size_t filled, std::uint64_t unused,
                         std::exception_ptr failure) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (out_slot >= 0 && filled > 0) ready_outputs_.push_back({out_slot, filled});
    for (const auto& queued : queued_inputs_) unused += queued.size;
    end_ = end;
    unused_ = unused;
    failure_ = std::move(failure);
  }
  caller_wake_.notify_one();
}

}  // namespace tolvex::zip
