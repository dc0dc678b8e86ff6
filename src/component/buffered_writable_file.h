// A WritableFile that gathers small writes into one system call each 64 KiB:
// a write per piece of a connection or of an inflated member costs more
// than the data's copy. The back end supplies the call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "component/file_system.h"

namespace tolvex {

class BufferedWritableFile : public WritableFile {
 public:
  void Write(const std::uint8_t* data, std::size_t size) final {
    if (buffer_.size() + size > kBufferSize) Drain();
    if (size >= kBufferSize) return WriteThrough(data, size);
    buffer_.insert(buffer_.end(), data, data + size);
  }

 protected:
  static constexpr std::size_t kBufferSize = 64 * 1024;

  BufferedWritableFile() { buffer_.reserve(kBufferSize); }

  // Hands what was gathered to the system; throws as WriteThrough does.
  void Drain() {
    WriteThrough(buffer_.data(), buffer_.size());
    buffer_.clear();
  }
  // Writes all of `data` with the back end's own calls, or throws FileError.
  virtual void WriteThrough(const std::uint8_t* data, std::size_t size) = 0;

 private:
  std::vector<std::uint8_t> buffer_;
};

}  // namespace tolvex
