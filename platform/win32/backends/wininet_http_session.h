// The HTTP session on WinINet's ANSI entry points, in WinINet's
// asynchronous mode behind a blocking interface: the exchange's thread
// waits for each send and read to complete, or for Abort. Abort releases
// the waiting thread at once, even where the pending operation is slow to
// give up (Wine lets it run on until the server answers), and closes
// nothing: the exchange's thread closes its handles itself, request
// before connection before session, once it has left every call on them,
// and that close cancels what is still pending. Handles stay owned here
// until the caller closes them, so any the caller fails to close are
// still closed when the session goes. The body goes out in
// pieces (HttpSendRequestEx, InternetWriteFile, HttpEndRequest), each read
// from the body just before it goes and reported as sent, so a long upload
// is never held whole and on a slow line shows that it moves;
// the request on the wire is the one HttpSendRequest would send. Pieces
// both ways are sized by a PiecePacer: up to 1 MiB a call while the bytes
// flow, what has arrived while a reply trickles; while a reply flows the
// next piece is already being read as the last one is handed over.
//
// Thread contract: one exchange at a time, run by one worker thread; Abort
// may come from any other thread meanwhile. Each apartment's root has its
// own session; WinINet's callbacks, on WinINet's threads, touch only the
// operation they name.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "backends/unique_hinternet.h"
#include "backends/unique_kernel_handle.h"
#include "component/trace.h"
#include "net/http_session.h"

namespace tolvex::win32 {

class WinInetHttpSession final : public HttpSession {
 public:
  // The failing call with its WinINet error, and with steps wanted the
  // exchange's heads, go to `trace`.
  explicit WinInetHttpSession(Trace& trace = DiscardingTrace());
  ~WinInetHttpSession() override;
  WinInetHttpSession(const WinInetHttpSession&) = delete;
  WinInetHttpSession& operator=(const WinInetHttpSession&) = delete;

  Handle Open(const std::u16string& agent) override;
  Handle Connect(Handle internet, const std::u16string& host, std::uint16_t port) override;
  Handle OpenRequest(Handle connection, const std::u16string& verb, const std::u16string& path,
                     const std::u16string& version, bool secure) override;
  bool AddHeader(Handle request, const std::u16string& header) override;
  std::string WireText(const std::u16string& text) override;
  bool Send(Handle request, RequestBody& body, const SentObserver& on_sent) override;
  ReadStatus Read(Handle request, std::uint8_t* buffer, std::size_t capacity,
                  std::size_t& count) override;
  void Close(Handle handle) override;
  std::optional<std::uint64_t> ReplyLengthHint(Handle request) override;
  std::optional<Redirect> RedirectOf(Handle request) override;
  void Abort() override;
  void ResetAbort() override;

  // Handles handed out and not yet closed.
  std::size_t OpenHandles() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return open_.size();
  }

 private:
  // What a request's pending operation writes when it completes: WinINet's
  // callback may come after the exchange has given up, or after the session
  // is gone, so the memory it fills keeps itself until the request handle's
  // last callback.
  struct Operation;

  static void CALLBACK StatusCallback(HINTERNET handle, DWORD_PTR context, DWORD status,
                                      LPVOID info, DWORD length);
  Handle Keep(HINTERNET handle);
  std::shared_ptr<Operation> OperationOf(Handle request);
  // Waits for the pending operation; false when aborted first.
  bool Await(Operation& operation);
  // The outcome of a call that may complete later: true at once or after
  // its completion reports success; false on failure, or once aborted.
  // A failure is traced with the name of the WinINet `call` and its error.
  bool Completed(BOOL returned, Operation& operation, const char* call);
  // The reply's next piece into the operation's buffer: the one read
  // ahead, or a read of what has arrived or of a fixed piece. `piece` is
  // the size asked (0: what had arrived), `count` what came. False, traced,
  // on failure or once aborted.
  bool ReadPiece(Operation& operation, Handle request, std::size_t capacity, std::size_t& piece,
                 DWORD& count);
  // Starts reading the next fixed piece into the operation's spare buffer.
  void ReadAhead(Operation& operation, Handle request);
  // Starts a read of up to `size` bytes into `into`; its count is in the
  // operation's `reading_into` once it returns true or its completion
  // comes. False with the error in GetLastError (ERROR_IO_PENDING: pending).
  static bool StartRead(Operation& operation, Handle request, std::uint8_t* into, DWORD size);
  static HINTERNET Raw(Handle handle) { return reinterpret_cast<HINTERNET>(handle); }

  bool Aborted() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return aborted_;
  }

  Trace& trace_;
  mutable std::mutex mutex_;
  unique_kernel_handle abort_event_;
  bool aborted_ = false;
  // By request handle; each lives until its request handle's last callback.
  std::map<Handle, std::weak_ptr<Operation>> operations_;
  // Declared last, so closed first when the session goes.
  std::map<Handle, unique_hinternet> open_;
};

}  // namespace tolvex::win32
