// One HTTP exchange on libcurl, driven from the caller's thread through the
// multi interface: Start sends the request and waits for the reply's
// headers, Read hands out the body as it arrives. At most a few hundred KiB
// wait between curl and the reader (the transfer pauses beyond that), so
// memory stays flat however long the reply is.
#pragma once

#include <curl/curl.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "component/trace.h"
#include "curl_trace.h"
#include "net/http_session.h"

namespace tolvex::posix {

struct CurlRequest {
  std::string url;
  std::string agent;
  std::vector<std::string> headers;
  // The caller's; curl reads it piece by piece while Start runs.
  RequestBody* body = nullptr;
  HttpSession::SentObserver on_sent;
};

class CurlTransfer {
 public:
  // `abort` is checked while the transfer runs; Wakeup interrupts a wait.
  // Its steps and the cause of a failure go to `trace`.
  CurlTransfer(CurlRequest request, const std::atomic<bool>& abort, Trace& trace);
  ~CurlTransfer();
  CurlTransfer(const CurlTransfer&) = delete;
  CurlTransfer& operator=(const CurlTransfer&) = delete;

  // False when the request could not be sent or no reply came back
  // (refused connection, name not found, certificate rejected, ...).
  bool Start();
  HttpSession::ReadStatus Read(std::uint8_t* buffer, std::size_t capacity, std::size_t& count);
  // Safe from any thread.
  void Wakeup();
  // The Content-Length of the reply, once Start has succeeded.
  std::optional<std::uint64_t> AnnouncedLength();
  // A 3xx reply's status line and Location, once Start has succeeded; it is
  // never followed.
  std::optional<HttpSession::Redirect> RedirectOf();

 private:
  struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
  };
  struct MultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
  };
  struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
  };

  bool Configure();
  void Step();
  static std::size_t OnBody(char* data, std::size_t size, std::size_t n, void* self);
  static std::size_t OnBodyWanted(char* buffer, std::size_t size, std::size_t n, void* self);
  static std::size_t OnHeader(char* data, std::size_t size, std::size_t n, void* self);
  static int OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t);

  CurlRequest request_;
  const std::atomic<bool>& abort_;
  // Before the handles: curl reports its last steps while they close.
  CurlTrace trace_;
  std::unique_ptr<CURL, EasyDeleter> easy_;
  std::unique_ptr<CURLM, MultiDeleter> multi_;
  std::unique_ptr<curl_slist, ListDeleter> header_list_;
  bool attached_ = false;
  bool paused_ = false;
  bool headers_done_ = false;
  bool finished_ = false;
  CURLcode result_ = CURLE_OK;
  std::string status_line_;  // of the last reply head
  curl_off_t reported_sent_ = 0;
  std::uint64_t body_read_ = 0;

  // Body bytes go straight into the reader's buffer when one is waiting;
  // the rest of a delivery waits in pending_.
  std::uint8_t* target_ = nullptr;
  std::size_t target_capacity_ = 0;
  std::size_t target_count_ = 0;
  std::vector<std::uint8_t> pending_;
  std::size_t pending_offset_ = 0;
};

}  // namespace tolvex::posix
