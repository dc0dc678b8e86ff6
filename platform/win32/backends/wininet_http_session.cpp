#include "backends/wininet_http_session.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <utility>

#include "backends/wininet_trace.h"
#include "com/module_state.h"
#include "com/wide_string.h"
#include "net/piece_pacer.h"

namespace tolvex::win32 {

using Clock = std::chrono::steady_clock;

struct WinInetHttpSession::Operation {
  Operation() : done(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    // WinINet calls back into this DLL until the request's last callback.
    LockModule(true);
  }
  Operation(const Operation&) = delete;
  Operation& operator=(const Operation&) = delete;
  ~Operation() { LockModule(false); }

  // The operation itself, until the request handle's last callback: that
  // may come after the session is gone (an apartment's root goes with its
  // last object), so the callback touches nothing else.
  std::shared_ptr<Operation> self;
  Handle request = kNull;
  unique_kernel_handle done;
  DWORD_PTR result = 0;
  DWORD error = 0;  // of a completion that failed
  // What WinINet reads from or writes to while an operation is pending:
  // owned here, so it outlives an exchange that gave up early.
  std::vector<std::uint8_t> buffer;
  // A read's count comes back in here, written by whichever thread
  // finishes the read. (InternetReadFile's own count is not safe for a read
  // that pends: Wine's zeroes it after queueing, which can be after the
  // read has already finished and written it.)
  INTERNET_BUFFERSA reading_into{};
  DWORD written = 0;
  DWORD available = 0;

  // The rest is the reply's, used only by the exchange's thread.
  // Its pieces: what has arrived while it trickles, large fixed reads once
  // it flows.
  PiecePacer reading{PiecePacer::kReply};
  // The piece read last, in `buffer`, from `held_at` on not yet handed over.
  std::size_t held_at = 0;
  std::size_t held_end = 0;
  // While the reply flows, the next piece is read into `spare` as soon as
  // one has been handed over, so the network moves while the caller
  // decodes and writes.
  enum class Ahead { None, Pending, Done, Failed };
  Ahead ahead = Ahead::None;
  DWORD ahead_asked = 0;
  DWORD ahead_error = 0;
  std::vector<std::uint8_t> spare;
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
    // The last callback for the request: the operation may end here.
    const std::shared_ptr<Operation> last = std::move(operation->self);
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
  return found == operations_.end() ? nullptr : found->second.lock();
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
  auto operation = std::make_shared<Operation>();
  // Nothing of the order data goes into the user's Internet cache, and a
  // redirect is not followed: it would carry the access key elsewhere, or
  // turn the POST into a GET without its body.
  const DWORD flags = (secure ? INTERNET_FLAG_SECURE : INTERNET_FLAG_RELOAD) |
                      INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTO_REDIRECT;
  // Kept alive from before the handle exists, so no callback can find it
  // gone; a request that is never opened never calls back.
  operation->self = operation;
  const HINTERNET request = HttpOpenRequestA(
      Raw(connection), ToAnsi(verb).c_str(), ToAnsi(path).c_str(), ToAnsi(version).c_str(), nullptr,
      nullptr, flags, reinterpret_cast<DWORD_PTR>(operation.get()));
  if (request == nullptr) {
    const DWORD error = GetLastError();
    operation->self.reset();
    TraceWinInetFailure(trace_, "HttpOpenRequest", error);
    return kNull;
  }
  operation->request = reinterpret_cast<Handle>(request);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // Requests whose last callback has come are forgotten here.
    for (auto entry = operations_.begin(); entry != operations_.end();) {
      entry = entry->second.expired() ? operations_.erase(entry) : std::next(entry);
    }
    operations_[operation->request] = operation;
  }
  return Keep(request);
}

bool WinInetHttpSession::AddHeader(Handle request, const std::u16string& header) {
  const std::string text = ToAnsi(header);
  return HttpAddRequestHeadersA(Raw(request), text.c_str(), static_cast<DWORD>(text.size()),
                                HTTP_ADDREQ_FLAG_ADD_IF_NEW) != FALSE;
}

std::string WinInetHttpSession::WireText(const std::u16string& text) { return ToAnsi(text); }

bool WinInetHttpSession::Completed(BOOL returned, Operation& operation, const char* call) {
  // Abort closes no handle, so a call that completes at once must not let
  // an aborted exchange go on.
  if (returned) return !Aborted();
  const DWORD error = GetLastError();
  if (error != ERROR_IO_PENDING) {
    TraceWinInetFailure(trace_, call, error);
    return false;
  }
  if (!Await(operation) || Aborted()) return false;
  if (operation.result == 0) {
    TraceWinInetFailure(trace_, call, operation.error);
    return false;
  }
  return true;
}

bool WinInetHttpSession::Send(Handle request, RequestBody& body, const SentObserver& on_sent) {
  const std::shared_ptr<Operation> operation = OperationOf(request);
  const std::uint64_t size = body.Size();
  if (!operation || size > MAXDWORD) return false;
  // The announced total becomes the Content-Length, as the body handed to
  // HttpSendRequestA would.
  INTERNET_BUFFERSA buffers{};
  buffers.dwStructSize = sizeof buffers;
  buffers.dwBufferTotal = static_cast<DWORD>(size);
  ResetEvent(operation->done.get());
  trace_.Step("sending " + std::to_string(size) + " body bytes");
  if (!Completed(HttpSendRequestExA(Raw(request), &buffers, nullptr, 0,
                                    reinterpret_cast<DWORD_PTR>(operation.get())),
                 *operation, "HttpSendRequestEx")) {
    return false;
  }
  // Each piece sized to take about a quarter second at the rate the last
  // one went: few calls on a fast line, and on a slow one news of the
  // bytes moving (and a Cancel) never waits long behind a write.
  PiecePacer pacer(PiecePacer::kBody);
  std::uint64_t sent = 0;
  while (sent < size) {
    const std::size_t piece =
        static_cast<std::size_t>(std::min<std::uint64_t>(pacer.Next(), size - sent));
    const Clock::time_point began = Clock::now();
    operation->buffer.resize(piece);
    const std::size_t filled = body.Read(operation->buffer.data(), piece);
    if (filled == 0) return false;  // the body keeps its cause
    for (std::size_t written = 0; written < filled;) {
      operation->written = 0;
      ResetEvent(operation->done.get());
      if (!Completed(InternetWriteFile(Raw(request), operation->buffer.data() + written,
                                       static_cast<DWORD>(filled - written), &operation->written),
                     *operation, "InternetWriteFile")) {
        return false;
      }
      // A write that took nothing would never end.
      if (operation->written == 0 || operation->written > filled - written) {
        trace_.Fail("the connection took no more of the request",
                    std::to_string(sent) + " of " + std::to_string(size) + " body bytes sent");
        return false;
      }
      written += operation->written;
      sent += operation->written;
      if (on_sent) on_sent(sent);
    }
    pacer.Moved(piece, filled, Clock::now() - began);
  }
  ResetEvent(operation->done.get());
  if (!Completed(
          HttpEndRequestA(Raw(request), nullptr, 0, reinterpret_cast<DWORD_PTR>(operation.get())),
          *operation, "HttpEndRequest")) {
    return false;
  }
  TraceExchangeHeads(trace_, Raw(request));
  return true;
}

bool WinInetHttpSession::ReadPiece(Operation& operation, Handle request, std::size_t capacity,
                                   std::size_t& piece, DWORD& count) {
  count = 0;
  if (operation.ahead != Operation::Ahead::None) {
    const Operation::Ahead ahead = std::exchange(operation.ahead, Operation::Ahead::None);
    piece = operation.ahead_asked;
    if (ahead == Operation::Ahead::Failed) {
      TraceWinInetFailure(trace_, "InternetReadFile", operation.ahead_error);
      return false;
    }
    if (ahead == Operation::Ahead::Pending) {
      if (!Await(operation)) return false;
      if (operation.result == 0) {
        TraceWinInetFailure(trace_, "InternetReadFile", operation.error);
        return false;
      }
    }
    operation.buffer.swap(operation.spare);
    count = std::min(operation.reading_into.dwBufferLength, operation.ahead_asked);
    return !Aborted();
  }
  // While the reply trickles, asks only for what has arrived: a read of
  // more waits until all of it has, and the reply would look silent
  // meanwhile. Once it flows, asks for a fixed piece without a query first.
  piece = std::min(operation.reading.Next(), capacity);
  DWORD available = 0;
  while (piece == 0) {
    operation.available = 0;
    ResetEvent(operation.done.get());
    if (InternetQueryDataAvailable(Raw(request), &operation.available, 0, 0)) {
      available = operation.available;
      break;
    }
    // A failure here is left to the read to report.
    if (GetLastError() != ERROR_IO_PENDING) break;
    // Once it completes the data is buffered: the next query answers at once.
    if (!Await(operation) || operation.result == 0) break;
  }
  if (Aborted()) return false;
  const std::size_t wanted = piece > 0       ? piece
                             : available > 0 ? std::min<std::size_t>(available, capacity)
                                             : capacity;
  const DWORD asked = static_cast<DWORD>(std::min<std::size_t>(wanted, MAXDWORD));
  operation.buffer.resize(asked);
  if (!StartRead(operation, request, operation.buffer.data(), asked)) {
    const DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) {
      TraceWinInetFailure(trace_, "InternetReadFile", error);
      return false;
    }
    if (!Await(operation)) return false;
    if (operation.result == 0) {
      TraceWinInetFailure(trace_, "InternetReadFile", operation.error);
      return false;
    }
  }
  count = std::min(operation.reading_into.dwBufferLength, asked);
  return true;
}

bool WinInetHttpSession::StartRead(Operation& operation, Handle request, std::uint8_t* into,
                                   DWORD size) {
  operation.reading_into = {};
  operation.reading_into.dwStructSize = sizeof operation.reading_into;
  operation.reading_into.lpvBuffer = into;
  operation.reading_into.dwBufferLength = size;
  ResetEvent(operation.done.get());
  return InternetReadFileExA(Raw(request), &operation.reading_into, IRF_ASYNC,
                             reinterpret_cast<DWORD_PTR>(&operation)) != FALSE;
}

void WinInetHttpSession::ReadAhead(Operation& operation, Handle request) {
  const std::size_t piece = operation.reading.Next();
  if (piece == 0) return;
  operation.ahead_asked = static_cast<DWORD>(std::min<std::size_t>(piece, MAXDWORD));
  operation.spare.resize(operation.ahead_asked);
  if (StartRead(operation, request, operation.spare.data(), operation.ahead_asked)) {
    operation.ahead = Operation::Ahead::Done;
    return;
  }
  operation.ahead_error = GetLastError();
  operation.ahead = operation.ahead_error == ERROR_IO_PENDING ? Operation::Ahead::Pending
                                                              : Operation::Ahead::Failed;
}

HttpSession::ReadStatus WinInetHttpSession::Read(Handle request, std::uint8_t* buffer,
                                                 std::size_t capacity, std::size_t& count) {
  count = 0;
  const std::shared_ptr<Operation> operation = OperationOf(request);
  if (!operation || capacity == 0) return ReadStatus::Failed;
  if (operation->held_at == operation->held_end) {
    const Clock::time_point began = Clock::now();
    std::size_t piece = 0;
    DWORD got = 0;
    if (!ReadPiece(*operation, request, capacity, piece, got)) return ReadStatus::Failed;
    operation->held_at = 0;
    operation->held_end = got;
    operation->reading.Moved(piece, got, Clock::now() - began);
    if (got == 0) return ReadStatus::End;
    // A whole fixed piece: more is on its way.
    if (piece > 0 && got == piece) ReadAhead(*operation, request);
  }
  count = std::min(capacity, operation->held_end - operation->held_at);
  std::memcpy(buffer, operation->buffer.data() + operation->held_at, count);
  operation->held_at += count;
  return ReadStatus::Data;
}

std::optional<std::uint64_t> WinInetHttpSession::ReplyLengthHint(Handle request) {
  // Read from the headers already received; nothing goes to the server.
  char digits[32] = {};
  DWORD length = sizeof digits - 1;
  if (OperationOf(request) == nullptr ||
      !HttpQueryInfoA(Raw(request), HTTP_QUERY_CONTENT_LENGTH, digits, &length, nullptr)) {
    return std::nullopt;
  }
  std::uint64_t value = 0;
  for (DWORD i = 0; i < length; ++i) {
    if (digits[i] < '0' || digits[i] > '9' || value > (UINT64_MAX - 9) / 10) return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(digits[i] - '0');
  }
  return length == 0 ? std::nullopt : std::optional<std::uint64_t>(value);
}

namespace {

// One header of the reply as text; "" when it has none.
std::string QueryText(HINTERNET request, DWORD info) {
  std::string text(256, '\0');
  for (int tries = 0; tries < 2; ++tries) {
    DWORD length = static_cast<DWORD>(text.size());
    if (HttpQueryInfoA(request, info, text.data(), &length, nullptr)) {
      text.resize(length);
      return text;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || length > 64 * 1024) return {};
    text.assign(length + 1, '\0');
  }
  return {};
}

}  // namespace

std::optional<HttpSession::Redirect> WinInetHttpSession::RedirectOf(Handle request) {
  DWORD status = 0;
  DWORD length = sizeof status;
  if (OperationOf(request) == nullptr ||
      !HttpQueryInfoA(Raw(request), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                      &length, nullptr) ||
      status < 300 || status > 399) {
    return std::nullopt;
  }
  const std::string line = QueryText(Raw(request), HTTP_QUERY_VERSION) + " " +
                           std::to_string(status) + " " +
                           QueryText(Raw(request), HTTP_QUERY_STATUS_TEXT);
  return Redirect{line, QueryText(Raw(request), HTTP_QUERY_LOCATION)};
}

void WinInetHttpSession::Close(Handle handle) {
  unique_hinternet closing;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = open_.find(handle);
    if (found == open_.end()) return;
    closing = std::move(found->second);
    open_.erase(found);
  }
  // Closed outside the lock: closing a request cancels its pending
  // operation, whose last callback may need the lock.
}

void WinInetHttpSession::Abort() {
  // Only wakes the exchange: its thread may be inside a call on any of
  // the handles, so it closes them itself, request first, once it has
  // left that call. A handle closed here could be given to another
  // request meanwhile and take this one's bytes.
  {
    std::lock_guard<std::mutex> lock(mutex_);
    aborted_ = true;
  }
  SetEvent(abort_event_.get());
}

void WinInetHttpSession::ResetAbort() {
  std::lock_guard<std::mutex> lock(mutex_);
  aborted_ = false;
  ResetEvent(abort_event_.get());
}

}  // namespace tolvex::win32
