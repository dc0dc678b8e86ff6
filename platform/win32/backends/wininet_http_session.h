// The HTTP session on WinINet's ANSI entry points, used synchronously.
// Handles stay owned here until the caller closes them, so any the caller
// fails to close are still closed when the session goes. Abort closes them
// all from the dialog's thread, which is how a blocking WinINet call is
// made to return.
#pragma once

#include <map>
#include <mutex>

#include "backends/unique_hinternet.h"
#include "net/http_session.h"

namespace tolvex::win32 {

class WinInetHttpSession final : public HttpSession {
 public:
  Handle Open(const std::u16string& agent) override;
  Handle Connect(Handle internet, const std::u16string& host, std::uint16_t port) override;
  Handle OpenRequest(Handle connection, const std::u16string& verb, const std::u16string& path,
                     const std::u16string& version, bool secure) override;
  bool AddHeader(Handle request, const std::u16string& header) override;
  bool Send(Handle request, const std::u16string& body) override;
  ReadStatus Read(Handle request, std::uint8_t* buffer, std::size_t capacity,
                  std::size_t& count) override;
  void Close(Handle handle) override;
  void Abort() override;
  void ResetAbort() override;

  // Handles handed out and not yet closed.
  std::size_t OpenHandles() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return open_.size();
  }

 private:
  Handle Keep(HINTERNET handle);
  static HINTERNET Raw(Handle handle) { return reinterpret_cast<HINTERNET>(handle); }

  bool Aborted() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return aborted_;
  }

  mutable std::mutex mutex_;
  std::map<Handle, unique_hinternet> open_;
  bool aborted_ = false;
};

}  // namespace tolvex::win32
