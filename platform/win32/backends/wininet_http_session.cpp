#include "backends/wininet_http_session.h"

#include <algorithm>

#include "com/wide_string.h"

namespace tolvex::win32 {

HttpSession::Handle WinInetHttpSession::Keep(HINTERNET handle) {
  if (handle == nullptr) return kNull;
  unique_hinternet owned(handle);
  std::lock_guard<std::mutex> lock(mutex_);
  if (aborted_) return kNull;  // aborted while it was being opened
  const auto key = reinterpret_cast<Handle>(handle);
  open_[key] = std::move(owned);
  return key;
}

HttpSession::Handle WinInetHttpSession::Open(const std::u16string& agent) {
  if (Aborted()) return kNull;
  return Keep(
      InternetOpenA(ToAnsi(agent).c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
}

HttpSession::Handle WinInetHttpSession::Connect(Handle internet, const std::u16string& host,
                                                std::uint16_t port) {
  if (Aborted()) return kNull;
  return Keep(InternetConnectA(Raw(internet), ToAnsi(host).c_str(), port, nullptr, nullptr,
                               INTERNET_SERVICE_HTTP, 0, 0));
}

HttpSession::Handle WinInetHttpSession::OpenRequest(Handle connection, const std::u16string& verb,
                                                    const std::u16string& path,
                                                    const std::u16string& version, bool secure) {
  if (Aborted()) return kNull;
  const DWORD flags = secure ? INTERNET_FLAG_SECURE : INTERNET_FLAG_RELOAD;
  return Keep(HttpOpenRequestA(Raw(connection), ToAnsi(verb).c_str(), ToAnsi(path).c_str(),
                               ToAnsi(version).c_str(), nullptr, nullptr, flags, 0));
}

bool WinInetHttpSession::AddHeader(Handle request, const std::u16string& header) {
  const std::string text = ToAnsi(header);
  return HttpAddRequestHeadersA(Raw(request), text.c_str(), static_cast<DWORD>(text.size()),
                                HTTP_ADDREQ_FLAG_ADD_IF_NEW) != FALSE;
}

bool WinInetHttpSession::Send(Handle request, const std::u16string& body) {
  std::string bytes = ToAnsi(body);
  if (Aborted()) return false;
  return HttpSendRequestA(Raw(request), nullptr, 0, bytes.empty() ? nullptr : bytes.data(),
                          static_cast<DWORD>(bytes.size())) != FALSE;
}

HttpSession::ReadStatus WinInetHttpSession::Read(Handle request, std::uint8_t* buffer,
                                                 std::size_t capacity, std::size_t& count) {
  DWORD read = 0;
  count = 0;
  if (Aborted()) return ReadStatus::Failed;
  const DWORD asked = static_cast<DWORD>(std::min<std::size_t>(capacity, MAXDWORD));
  const BOOL ok = InternetReadFile(Raw(request), buffer, asked, &read);
  count = read;
  if (!ok) return ReadStatus::Failed;
  return read == 0 ? ReadStatus::End : ReadStatus::Data;
}

void WinInetHttpSession::Close(Handle handle) {
  unique_hinternet closing;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = open_.find(handle);
    // A handle that is not here was closed by Abort already.
    if (found == open_.end()) return;
    closing = std::move(found->second);
    open_.erase(found);
  }
}

void WinInetHttpSession::Abort() {
  std::map<Handle, unique_hinternet> closing;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    aborted_ = true;
    closing.swap(open_);
  }
  // Closed outside the lock: closing a handle makes the worker's blocking
  // call return, and the worker may then need the lock.
}

void WinInetHttpSession::ResetAbort() {
  std::lock_guard<std::mutex> lock(mutex_);
  aborted_ = false;
}

}  // namespace tolvex::win32
