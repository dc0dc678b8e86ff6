#include "curl_transfer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace tolvex::posix {
namespace {

// libcurl reads the proxy variables (http_proxy, https_proxy, no_proxy,
// ...) itself, but not the CA variables the curl tool honours; without
// them a private CA could not be trusted short of editing the system store.
const char* CaBundleFromEnvironment() {
  for (const char* name : {"CURL_CA_BUNDLE", "SSL_CERT_FILE"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return value;
  }
  return nullptr;
}

constexpr long kWaitSliceMs = 1000;
// What the curl command uses: far fewer wake-ups than the 16 KiB default.
constexpr long kReceiveBufferSize = 100 * 1024;
constexpr long kUploadBufferSize = 256 * 1024;
// One pass of curl reads for as long as the socket has data; past this much
// unread data the transfer is paused until the reader catches up.
constexpr std::size_t kMaxPending = 256 * 1024;

}  // namespace

CurlTransfer::CurlTransfer(CurlRequest request, const std::atomic<bool>& abort, Trace& trace)
    : request_(std::move(request)),
      abort_(abort),
      trace_(trace),
      easy_(curl_easy_init()),
      multi_(curl_multi_init()) {}

CurlTransfer::~CurlTransfer() {
  if (attached_) curl_multi_remove_handle(multi_.get(), easy_.get());
}

bool CurlTransfer::Configure() {
  CURL* e = easy_.get();
  for (const auto& h : request_.headers) {
    curl_slist* grown = curl_slist_append(header_list_.get(), h.c_str());
    if (grown == nullptr) return false;
    header_list_.release();
    header_list_.reset(grown);
  }
  // An HTTP/1.0 client sends Host, User-Agent, Content-Type and
  // Content-Length; curl would add Accept (and Expect for large bodies).
  for (const char* suppressed : {"Accept:", "Expect:"}) {
    curl_slist* grown = curl_slist_append(header_list_.get(), suppressed);
    if (grown == nullptr) return false;
    header_list_.release();
    header_list_.reset(grown);
  }
  bool ok = curl_easy_setopt(e, CURLOPT_URL, request_.url.c_str()) == CURLE_OK;
  ok = ok && curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK;
  ok = ok && curl_easy_setopt(e, CURLOPT_PATH_AS_IS, 1L) == CURLE_OK;
  ok = ok && curl_easy_setopt(e, CURLOPT_HTTP_VERSION, long{CURL_HTTP_VERSION_1_0}) == CURLE_OK;
  ok = ok && curl_easy_setopt(e, CURLOPT_USERAGENT, request_.agent.c_str()) == CURLE_OK;
  ok = ok && curl_easy_setopt(e, CURLOPT_HTTPHEADER, header_list_.get()) == CURLE_OK;
  ok = ok && curl_easy_setopt(e, CURLOPT_POST, 1L) == CURLE_OK;
  // The length goes out as the Content-Length before the body, which curl
  // asks for a piece at a time as the connection takes it.
  const std::uint64_t body_size = request_.body != nullptr ? request_.body->Size() : 0;
  ok = ok && curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body_size)) ==
                 CURLE_OK;
  ok = ok && curl_easy_setopt(e, CURLOPT_READFUNCTION, &CurlTransfer::OnBodyWanted) == CURLE_OK;
  ok = ok && curl_easy_setopt(e, CURLOPT_READDATA, this) == CURLE_OK;
  // As large as the piece size of the reply, so a large body goes in few
  // calls.
  ok = ok && curl_easy_setopt(e, CURLOPT_UPLOAD_BUFFERSIZE, kUploadBufferSize) == CURLE_OK;
  ok = ok && curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
  ok = ok && curl_easy_setopt(e, CURLOPT_BUFFERSIZE, kReceiveBufferSize) == CURLE_OK;
  ok = ok && curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &CurlTransfer::OnBody) == CURLE_OK;
  ok = ok && curl_easy_setopt(e, CURLOPT_WRITEDATA, this) == CURLE_OK;
  ok = ok && curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &CurlTransfer::OnHeader) == CURLE_OK;
  ok = ok && curl_easy_setopt(e, CURLOPT_HEADERDATA, this) == CURLE_OK;
  ok = ok && curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L) == CURLE_OK;
  ok = ok && curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &CurlTransfer::OnProgress) == CURLE_OK;
  ok = ok && curl_easy_setopt(e, CURLOPT_XFERINFODATA, this) == CURLE_OK;
  ok = ok && trace_.Attach(e);
  if (const char* bundle = CaBundleFromEnvironment()) {
    ok = ok && curl_easy_setopt(e, CURLOPT_CAINFO, bundle) == CURLE_OK;
  }
  if (const char* dir = std::getenv("SSL_CERT_DIR"); dir != nullptr && *dir != '\0') {
    ok = ok && curl_easy_setopt(e, CURLOPT_CAPATH, dir) == CURLE_OK;
  }
  return ok;
}

std::optional<HttpSession::Redirect> CurlTransfer::RedirectOf() {
  long code = 0;
  if (!headers_done_ || curl_easy_getinfo(easy_.get(), CURLINFO_RESPONSE_CODE, &code) != CURLE_OK ||
      code < 300 || code > 399) {
    return std::nullopt;
  }
  // Without CURLOPT_FOLLOWLOCATION curl only tells where it would go.
  const char* location = nullptr;
  curl_easy_getinfo(easy_.get(), CURLINFO_REDIRECT_URL, &location);
  return HttpSession::Redirect{status_line_, location != nullptr ? location : ""};
}

std::optional<std::uint64_t> CurlTransfer::AnnouncedLength() {
  curl_off_t length = -1;
  if (!headers_done_ ||
      curl_easy_getinfo(easy_.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK ||
      length < 0) {
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(length);
}

bool CurlTransfer::Start() {
  if (!easy_ || !multi_ || attached_ || !Configure()) return false;
  if (curl_multi_add_handle(multi_.get(), easy_.get()) != CURLM_OK) return false;
  attached_ = true;
  while (!headers_done_ && !finished_) Step();
  if (headers_done_ || result_ == CURLE_OK) return true;
  trace_.Failed(easy_.get(), result_);
  return false;
}

HttpSession::ReadStatus CurlTransfer::Read(std::uint8_t* buffer, std::size_t capacity,
                                           std::size_t& count) {
  count = 0;
  if (capacity == 0) return HttpSession::ReadStatus::Failed;
  if (pending_offset_ < pending_.size()) {
    count = std::min(capacity, pending_.size() - pending_offset_);
    std::memcpy(buffer, pending_.data() + pending_offset_, count);
    pending_offset_ += count;
    if (pending_offset_ == pending_.size()) {
      pending_.clear();
      pending_offset_ = 0;
    }
    return HttpSession::ReadStatus::Data;
  }
  target_ = buffer;
  target_capacity_ = capacity;
  target_count_ = 0;
  if (paused_) {
    // Curl hands the delivery it kept back right away, into target_.
    paused_ = false;
    if (curl_easy_pause(easy_.get(), CURLPAUSE_CONT) != CURLE_OK) {
      finished_ = true;
      result_ = CURLE_RECV_ERROR;
    }
  }
  while (target_count_ == 0 && !finished_) Step();
  target_ = nullptr;
  count = target_count_;
  if (count > 0) return HttpSession::ReadStatus::Data;
  if (result_ == CURLE_OK) return HttpSession::ReadStatus::End;
  trace_.Failed(easy_.get(), result_);
  return HttpSession::ReadStatus::Failed;
}

void CurlTransfer::Wakeup() {
  if (multi_) curl_multi_wakeup(multi_.get());
}

void CurlTransfer::Step() {
  if (abort_.load()) {
    finished_ = true;
    result_ = CURLE_ABORTED_BY_CALLBACK;
    return;
  }
  int running = 0;
  if (curl_multi_perform(multi_.get(), &running) != CURLM_OK) {
    finished_ = true;
    result_ = CURLE_FAILED_INIT;
    return;
  }
  int queued = 0;
  while (CURLMsg* msg = curl_multi_info_read(multi_.get(), &queued)) {
    if (msg->msg == CURLMSG_DONE) {
      finished_ = true;
      result_ = msg->data.result;
    }
  }
  const bool progressed = target_count_ > 0 || (target_ == nullptr && headers_done_);
  if (finished_ || progressed || running == 0) {
    if (running == 0 && !finished_) finished_ = true;  // done without a message: treat as end
    return;
  }
  curl_multi_poll(multi_.get(), nullptr, 0, kWaitSliceMs, nullptr);
}

std::size_t CurlTransfer::OnBody(char* data, std::size_t size, std::size_t n, void* self) {
  auto& t = *static_cast<CurlTransfer*>(self);
  const std::size_t total = size * n;
  const bool target_full = t.target_ == nullptr || t.target_count_ == t.target_capacity_;
  if (target_full && t.pending_.size() - t.pending_offset_ >= kMaxPending) {
    t.paused_ = true;
    return CURL_WRITEFUNC_PAUSE;  // curl keeps this delivery until unpaused
  }
  std::size_t direct = 0;
  if (t.target_ != nullptr) {
    direct = std::min(total, t.target_capacity_ - t.target_count_);
    std::memcpy(t.target_ + t.target_count_, data, direct);
    t.target_count_ += direct;
  }
  try {
    t.pending_.insert(t.pending_.end(), data + direct, data + total);
  } catch (...) {
    return 0;  // curl ends the transfer with a write error
  }
  return total;
}

std::size_t CurlTransfer::OnBodyWanted(char* buffer, std::size_t size, std::size_t n, void* self) {
  auto& t = *static_cast<CurlTransfer*>(self);
  if (t.request_.body == nullptr) return 0;
  const std::uint64_t total = t.request_.body->Size();
  const std::size_t capacity = static_cast<std::size_t>(
      std::min<std::uint64_t>(size * n, total - std::min(total, t.body_read_)));
  if (capacity == 0) return 0;
  const std::size_t got = t.request_.body->Read(reinterpret_cast<std::uint8_t*>(buffer), capacity);
  // A body that fails keeps its cause; the transfer ends as failed rather
  // than short.
  if (got == 0) return CURL_READFUNC_ABORT;
  t.body_read_ += got;
  return got;
}

std::size_t CurlTransfer::OnHeader(char* data, std::size_t size, std::size_t n, void* self) {
  auto& t = *static_cast<CurlTransfer*>(self);
  const std::size_t total = size * n;
  if (total >= 5 && std::string_view(data, 5) == "HTTP/") {
    std::string_view line(data, total);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    t.status_line_ = std::string(line);
  }
  const bool blank =
      (total == 2 && data[0] == '\r' && data[1] == '\n') || (total == 1 && data[0] == '\n');
  if (blank) {
    long code = 0;
    curl_easy_getinfo(t.easy_.get(), CURLINFO_RESPONSE_CODE, &code);
    if (code < 100 || code >= 200) t.headers_done_ = true;  // an interim 1xx is not the reply
  }
  return total;
}

int CurlTransfer::OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t ulnow) {
  auto& t = *static_cast<CurlTransfer*>(self);
  if (t.abort_.load()) return 1;
  if (ulnow > t.reported_sent_) {
    t.reported_sent_ = ulnow;
    if (t.request_.on_sent) {
      try {
        t.request_.on_sent(static_cast<std::uint64_t>(ulnow));
      } catch (...) {
        return 1;  // the transfer ends as failed rather than let it through curl
      }
    }
  }
  return 0;
}

}  // namespace tolvex::posix
