// One libcurl transfer told through the Trace: curl's own steps, the
// request head as it went out, the reply head as it came in, the byte
// counts, and the cause of a failure in plain words with curl's error code
// and text. The body is never shown: it carries the access key.
#pragma once

#include <curl/curl.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "component/trace.h"

namespace tolvex::posix {

// Plain words and detail for a failed transfer. `os_errno` is the system
// error of a failed connect (CURLINFO_OS_ERRNO), `proxy_status` the status
// a proxy answered a tunnel request with (CURLINFO_HTTP_CONNECTCODE).
TraceCause DescribeCurlFailure(CURLcode code, long os_errno, long proxy_status,
                               std::string_view error_buffer);

class CurlTrace {
 public:
  explicit CurlTrace(Trace& trace) : trace_(trace) {}
  CurlTrace(const CurlTrace&) = delete;
  CurlTrace& operator=(const CurlTrace&) = delete;

  // Installs the error buffer and the debug callback on the transfer. The
  // callback also picks up the reply's status line when no steps are
  // wanted, so a failure's cause can name it.
  bool Attach(CURL* easy);
  // Records the cause of a transfer that ended with `code`.
  void Failed(CURL* easy, CURLcode code);

  std::uint64_t BodyBytesSent() const { return sent_; }
  std::uint64_t BodyBytesReceived() const { return received_; }

 private:
  static int OnDebug(CURL* easy, curl_infotype type, char* data, std::size_t size, void* self);
  void OnHeaderOut(std::string_view block);
  void OnHeaderIn(std::string_view line);

  Trace& trace_;
  char error_[CURL_ERROR_SIZE] = {};
  std::uint64_t sent_ = 0;
  std::uint64_t received_ = 0;
  bool reported_ = false;
};

}  // namespace tolvex::posix
