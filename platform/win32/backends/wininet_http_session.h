// The HTTP session on WinINet's ANSI entry points, used synchronously.
// Handles stay owned here until the caller closes them, so any the caller
// fails to close are still closed when the session goes.
#pragma once

#include <map>

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

  // Handles handed out and not yet closed.
  std::size_t OpenHandles() const { return open_.size(); }

 private:
  Handle Keep(HINTERNET handle);
  static HINTERNET Raw(Handle handle) { return reinterpret_cast<HINTERNET>(handle); }

  std::map<Handle, unique_hinternet> open_;
};

}  // namespace tolvex::win32
