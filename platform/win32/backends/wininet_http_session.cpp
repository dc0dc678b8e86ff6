#include "backends/wininet_http_session.h"

#include <algorithm>
#include <cstring>

#include "backends/wininet_trace.h"
#include "com/module_state.h"
#include "com/wide_string.h"

namespace tolvex::win32 {

struct WinInetHttpSession::Operation {
  explicit Operation(WinInetHttpSession& session)
      : owner(session), done(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    // WinINet calls back into this DLL until the request's last callback.
    LockModule(true);
  }
  Operation(const Operation&) = delete;
  Operation& operator=(const Operation&) = delete;
  ~Operation() { LockModule(false); }

  WinInetHttpSession& owner;
  Handle request = kNull;
  unique_kernel_handle done;
  DWORD_PTR result = 0;
  DWORD error = 0;  // of a completion that failed
  std::string body;
  std::vector<std::uint8_t> buffer;
  DWORD read = 0;
};

WinInetHttpSession::WinInetHttpSession(Trace& trace)
    : trace_(trace), abort_event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

WinInetHttpSession::~WinInetHttpSession() {
  std::map<Handle, unique_hinternet> closing;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing.swap(open_);
  }
}

void CALLBACK WinInetHttpSession::StatusCallback(HINTERNET, DWORD_PTR context, DWORD status,
                                                 LPVOID info, DWORD) {
  auto* operation = reinterpret_cast<Operation*>(context);
  if (operation == nullptr) return;
  if (status == INTERNET_STATUS_REQUEST_COMPLETE && info != nullptr) {
    const auto* completion = static_cast<const INTERNET_ASYNC_RESULT*>(info);
    operation->result = completion->dwResult;
    operation->error = completion->dwError;
    SetEvent(operation->done.get());
  } else if (status == INTERNET_STATUS_HANDLE_CLOSING) {
    operation->owner.Forget(operation);
  }
}

void WinInetHttpSession::Forget(Operation* operation) {
  std::shared_ptr<Operation> last;  // may be the last owner: released unlocked
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = operations_.find(operation->request);
  if (found != operations_.end() && found->second.get() == operation) {
    last = std::move(found->second);
    operations_.erase(found);
  }
}

HttpSession::Handle WinInetHttpSession::Keep(HINTERNET handle) {
  if (handle == nullptr) return kNull;
  unique_hinternet owned(handle);
  std::lock_guard<std::mutex> lock(mutex_);
  if (aborted_) return kNull;  // aborted while it was being opened
  const auto key = reinterpret_cast<Handle>(handle);
  open_[key] = std::move(owned);
  return key;
}

std::shared_ptr<WinInetHttpSession::Operation> WinInetHttpSession::OperationOf(Handle request) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (aborted_ || open_.count(request) == 0) return nullptr;
  const auto found = operations_.find(request);
  return found == operations_.end() ? nullptr : found->second;
}

bool WinInetHttpSession::Await(Operation& operation) {
  const HANDLE events[2] = {operation.done.get(), abort_event_.get()};
  return WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0;
}

HttpSession::Handle WinInetHttpSession::Open(const std::u16string& agent) {
  if (Aborted()) return kNull;
  const HINTERNET internet = InternetOpenA(ToAnsi(agent).c_str(), INTERNET_OPEN_TYPE_PRECONFIG,
                                           nullptr, nullptr, INTERNET_FLAG_ASYNC);
  if (internet == nullptr) {
    TraceWinInetFailure(trace_, "InternetOpen", GetLastError());
    return kNull;
  }
  InternetSetStatusCallbackA(internet, &StatusCallback);
  return Keep(internet);
}

HttpSession::Handle WinInetHttpSession::Connect(Handle internet, const std::u16string& host,
                                                std::uint16_t port) {
  if (Aborted()) return kNull;
  const HINTERNET connection = InternetConnectA(Raw(internet), ToAnsi(host).c_str(), port, nullptr,
                                                nullptr, INTERNET_SERVICE_HTTP, 0, 0);
  if (connection == nullptr) TraceWinInetFailure(trace_, "InternetConnect", GetLastError());
  return Keep(connection);
}

HttpSession::Handle WinInetHttpSession::OpenRequest(Handle connection, const std::u16string& verb,
                                                    const std::u16string& path,
                                                    const std::u16string& version, bool secure) {
  if (Aborted()) return kNull;
  auto operation = std::make_shared<Operation>(*this);
  const DWORD flags = secure ? INTERNET_FLAG_SECURE : INTERNET_FLAG_RELOAD;
  const HINTERNET request = HttpOpenRequestA(
      Raw(connection), ToAnsi(verb).c_str(), ToAnsi(path).c_str(), ToAnsi(version).c_str(), nullptr,
      nullptr, flags, reinterpret_cast<DWORD_PTR>(operation.get()));
  if (request == nullptr) {
    TraceWinInetFailure(trace_, "HttpOpenRequest", GetLastError());
    return kNull;
  }
  operation->request = reinterpret_cast<Handle>(request);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    operations_[operation->request] = operation;
  }
  return Keep(request);
}

bool WinInetHttpSession::AddHeader(Handle request, const std::u16string& header) {
  const std::string text = ToAnsi(header);
  return HttpAddRequestHeadersA(Raw(request), text.c_str(), static_cast<DWORD>(text.size()),
                                HTTP_ADDREQ_FLAG_ADD_IF_NEW) != FALSE;
}

bool WinInetHttpSession::Send(Handle request, const std::u16string& body) {
  const std::shared_ptr<Operation> operation = OperationOf(request);
  if (!operation) return false;
  std::string& bytes = operation->body;
  bytes = ToAnsi(body);
  ResetEvent(operation->done.get());
  trace_.Step("sending " + std::to_string(bytes.size()) + " body bytes");
  if (!HttpSendRequestA(Raw(request), nullptr, 0, bytes.empty() ? nullptr : bytes.data(),
                        static_cast<DWORD>(bytes.size()))) {
    const DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) {
      TraceWinInetFailure(trace_, "HttpSendRequest", error);
      return false;
    }
    if (!Await(*operation)) return false;
    if (operation->result == 0) {
      TraceWinInetFailure(trace_, "HttpSendRequest", operation->error);
      return false;
    }
  }
  TraceExchangeHeads(trace_, Raw(request));
  return true;
}

HttpSession::ReadStatus WinInetHttpSession::Read(Handle request, std::uint8_t* buffer,
                                                 std::size_t capacity, std::size_t& count) {
  count = 0;
  const std::shared_ptr<Operation> operation = OperationOf(request);
  if (!operation) return ReadStatus::Failed;
  const DWORD asked = static_cast<DWORD>(std::min<std::size_t>(capacity, MAXDWORD));
  operation->buffer.resize(asked);
  operation->read = 0;
  ResetEvent(operation->done.get());
  if (!InternetReadFile(Raw(request), operation->buffer.data(), asked, &operation->read)) {
    const DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) {
      TraceWinInetFailure(trace_, "InternetReadFile", error);
      return ReadStatus::Failed;
    }
    if (!Await(*operation)) return ReadStatus::Failed;
    if (operation->result == 0) {
      TraceWinInetFailure(trace_, "InternetReadFile", operation->error);
      return ReadStatus::Failed;
    }
  }
  count = std::min<DWORD>(operation->read, asked);
  if (count > 0) std::memcpy(buffer, operation->buffer.data(), count);
  return count == 0 ? ReadStatus::End : ReadStatus::Data;
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
  SetEvent(abort_event_.get());
  // Closed outside the lock: closing a handle cancels its pending
  // operation, whose last callback needs the lock.
}

void WinInetHttpSession::ResetAbort() {
  std::lock_guard<std::mutex> lock(mutex_);
  aborted_ = false;
  ResetEvent(abort_event_.get());
}

}  // namespace tolvex::win32
