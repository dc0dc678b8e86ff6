#include "archive/block_deflater.h"

#include <algorithm>
#include <new>

namespace tolvex::zip {

namespace {

// Deflates `input` into `output`, primed with `dictionary`; ends on a
// byte boundary, or the stream's end for the last block.
void DeflateBlock(z_stream* z, const std::vector<std::uint8_t>& input,
                  const std::vector<std::uint8_t>& dictionary, bool last,
                  std::vector<std::uint8_t>& output) {
  if (deflateReset(z) != Z_OK) throw std::bad_alloc();
  if (!dictionary.empty() &&
      deflateSetDictionary(z, dictionary.data(), static_cast<uInt>(dictionary.size())) != Z_OK) {
    throw std::bad_alloc();
  }
  // zlib's bound for the block, and room for the flush's empty block.
  output.resize(deflateBound(z, static_cast<uLong>(input.size())) + 16);
  z->next_in = const_cast<Bytef*>(input.data());
  z->avail_in = static_cast<uInt>(input.size());
  const int flush = last ? Z_FINISH : Z_SYNC_FLUSH;
  std::size_t produced = 0;
  for (;;) {
    z->next_out = output.data() + produced;
    z->avail_out = static_cast<uInt>(output.size() - produced);
    const int status = deflate(z, flush);
    produced = output.size() - z->avail_out;
    if (status == Z_STREAM_ERROR) throw std::bad_alloc();
    const bool finished = last ? status == Z_STREAM_END : z->avail_out != 0;
    if (finished) break;
    output.resize(output.size() + 64 * 1024);
  }
  output.resize(produced);
}

}  // namespace

DeflateStream::DeflateStream(int level) {
  if (deflateInit2(&stream_, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::bad_alloc();
  }
}

int BlockDeflater::HelpersForThisMachine() {
  const unsigned processors = std::thread::hardware_concurrency();
  return static_cast<int>(std::clamp(processors, 1u, 4u));
}

// Two more blocks than helpers: each helper has one, the driving thread
// reads the next while the oldest waits to be written.
BlockDeflater::BlockDeflater(int level, int helpers)
    : level_(level), capacity_(static_cast<std::size_t>(std::max(helpers, 1)) + 2) {
  const std::size_t threads = capacity_ - 2;
  threads_.reserve(threads);
  try {
    while (threads_.size() < threads) threads_.emplace_back([this] { Run(); });
  } catch (...) {
    Stop();  // the helpers already started
    throw;
  }
}

BlockDeflater::~BlockDeflater() { Stop(); }

void BlockDeflater::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  helper_wake_.notify_all();
  for (auto& thread : threads_) {
    if (thread.joinable()) thread.join();
  }
}

std::size_t BlockDeflater::InHand() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return jobs_.size();
}

void BlockDeflater::Submit(std::vector<std::uint8_t> block, bool last) {
  auto job = std::make_unique<Job>();
  job->dictionary = tail_;
  // What primes the block after this one: this block's end, topped up
  // from the one before when this one is short.
  const std::size_t keep = std::min(block.size(), kDictionarySize);
  if (keep == kDictionarySize) {
    tail_.assign(block.end() - static_cast<std::ptrdiff_t>(keep), block.end());
  } else {
    tail_.insert(tail_.end(), block.begin(), block.end());
    if (tail_.size() > kDictionarySize) {
      tail_.erase(tail_.begin(), tail_.end() - static_cast<std::ptrdiff_t>(kDictionarySize));
    }
  }
  job->input = std::move(block);
  job->last = last;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    jobs_.push_back(std::move(job));
  }
  helper_wake_.notify_one();
}

std::vector<std::uint8_t> BlockDeflater::Take() {
  std::unique_ptr<Job> job;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    caller_wake_.wait(lock, [&] { return !jobs_.empty() && jobs_.front()->done; });
    job = std::move(jobs_.front());
    jobs_.pop_front();
  }
  if (job->failure) std::rethrow_exception(job->failure);
  return std::move(job->output);
}

void BlockDeflater::Run() {
  std::unique_ptr<DeflateStream> stream;
  std::exception_ptr no_stream;
  try {
    stream = std::make_unique<DeflateStream>(level_);
  } catch (...) {
    no_stream = std::current_exception();
  }
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    Job* job = nullptr;
    helper_wake_.wait(lock, [&] {
      if (stopping_) return true;
      for (auto& queued : jobs_) {
        if (!queued->started) {
          job = queued.get();
          return true;
        }
      }
      return false;
    });
    if (stopping_) return;
    job->started = true;
    lock.unlock();
    try {
      if (no_stream) std::rethrow_exception(no_stream);
      DeflateBlock(stream->get(), job->input, job->dictionary, job->last, job->output);
    } catch (...) {
      job->failure = std::current_exception();
    }
    job->input = {};
    lock.lock();
    job->done = true;
    caller_wake_.notify_one();
  }
}

}  // namespace tolvex::zip
