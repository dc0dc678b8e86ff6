// What a post tells the dialog while it runs: the status text, the bytes
// moved, a repaint.
//
// Thread contract: called on the post's worker; the dialog's implementation
// keeps what it is told under a lock and shows it on the dialog's thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tolvex {

// How far a post has gone, in bytes.
struct TransferCounts {
  std::uint64_t sent = 0;                   // body bytes handed to the connection
  std::uint64_t body_size = 0;              // the whole body
  std::uint64_t received = 0;               // reply body bytes read
  std::optional<std::uint64_t> reply_size;  // as the reply announced it, if it did
};

// What the post needs of the dialog: the status label's text and an
// immediate repaint, and news of bytes moving, which is what keeps a slow
// transfer from counting as a silent one.
class StatusDisplay {
 public:
  virtual ~StatusDisplay() = default;
  virtual void SetStatusText(const std::u16string& text) = 0;
  virtual void Repaint() = 0;
  // Called on the post's thread whenever a count has grown.
  virtual void BytesMoved(const TransferCounts& /*counts*/) {}
};

}  // namespace tolvex
