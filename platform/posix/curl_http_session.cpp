#include "curl_http_session.h"

#include <curl/curl.h>

#include <cctype>
#include <mutex>
#include <vector>

#include "curl_transfer.h"
#include "locale_charset.h"

namespace tolvex::posix {

struct CurlHttpSession::Object {
  virtual ~Object() = default;
};

namespace {

struct Internet : CurlHttpSession::Object {
  std::string agent;
};

struct Connection : CurlHttpSession::Object {
  HttpSession::Handle internet = HttpSession::kNull;
  std::string host;
  std::uint16_t port = 0;
};

struct Request : CurlHttpSession::Object {
  std::string agent;
  std::string url;
  bool url_usable = false;
  std::vector<std::string> headers;
  std::unique_ptr<CurlTransfer> transfer;
};

bool CurlReady() {
  static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  return ready;
}

// A name that could smuggle credentials, a path or another URL part into
// the URL cannot be a host to connect to.
bool IsConnectableHost(const std::string& host) {
  if (host.empty()) return false;
  for (const unsigned char c : host) {
    if (c <= 0x20 || c == 0x7F || c == '@' || c == '/' || c == '?' || c == '#' || c == '\\') {
      return false;
    }
  }
  return true;
}

std::string HeaderName(const std::string& header) {
  std::string name = header.substr(0, header.find(':'));
  while (!name.empty() && name.back() == ' ') name.pop_back();
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name;
}

}  // namespace

CurlHttpSession::CurlHttpSession(Trace& trace) : trace_(trace) {}
CurlHttpSession::~CurlHttpSession() = default;

template <typename T>
T* CurlHttpSession::Find(Handle handle) {
  const auto it = objects_.find(handle);
  return it == objects_.end() ? nullptr : dynamic_cast<T*>(it->second.get());
}

HttpSession::Handle CurlHttpSession::Keep(std::unique_ptr<Object> object) {
  const Handle handle = next_handle_++;
  objects_.emplace(handle, std::move(object));
  return handle;
}

HttpSession::Handle CurlHttpSession::Open(const std::u16string& agent) {
  if (!CurlReady()) return kNull;
  auto internet = std::make_unique<Internet>();
  internet->agent = ToLocaleCharset(agent);
  return Keep(std::move(internet));
}

HttpSession::Handle CurlHttpSession::Connect(Handle internet, const std::u16string& host,
                                             std::uint16_t port) {
  if (Find<Internet>(internet) == nullptr) return kNull;
  auto connection = std::make_unique<Connection>();
  connection->internet = internet;
  connection->host = ToLocaleCharset(host);
  connection->port = port;
  return Keep(std::move(connection));
}

HttpSession::Handle CurlHttpSession::OpenRequest(Handle connection, const std::u16string& verb,
                                                 const std::u16string& path,
                                                 const std::u16string& version, bool secure) {
  const Connection* c = Find<Connection>(connection);
  const Internet* i = c ? Find<Internet>(c->internet) : nullptr;
  // This back end speaks exactly what PostRequest asks for.
  if (i == nullptr || verb != u"POST" || version != u"HTTP/1.0") return kNull;
  auto request = std::make_unique<Request>();
  request->agent = i->agent;
  const bool literal_v6 = c->host.find(':') != std::string::npos;
  const std::string host = literal_v6 ? "[" + c->host + "]" : c->host;
  const std::string target = ToLocaleCharset(path);
  request->url =
      std::string(secure ? "https://" : "http://") + host + ":" + std::to_string(c->port) + target;
  // As with WinINet, a host that cannot be reached fails the send, not the
  // opening of the request.
  request->url_usable = IsConnectableHost(c->host) && !target.empty() && target[0] == '/';
  return Keep(std::move(request));
}

bool CurlHttpSession::AddHeader(Handle handle, const std::u16string& header) {
  Request* request = Find<Request>(handle);
  if (request == nullptr || request->transfer) return false;
  std::string line = ToLocaleCharset(header);
  if (line.find(':') == std::string::npos || line.find_first_of("\r\n") != std::string::npos) {
    return false;
  }
  const std::string name = HeaderName(line);
  for (const auto& existing : request->headers) {
    if (HeaderName(existing) == name) return false;
  }
  request->headers.push_back(std::move(line));
  return true;
}

std::string CurlHttpSession::WireText(const std::u16string& text) { return ToLocaleCharset(text); }

bool CurlHttpSession::Send(Handle handle, RequestBody& body, const SentObserver& on_sent) {
  Request* request = Find<Request>(handle);
  if (request == nullptr || request->transfer || aborted_.load()) return false;
  if (!request->url_usable) {
    trace_.Fail("the server address cannot be used", request->url);
    return false;
  }
  CurlRequest wire{request->url, request->agent, request->headers, &body, on_sent};
  request->transfer = std::make_unique<CurlTransfer>(std::move(wire), aborted_, trace_);
  {
    std::lock_guard<std::mutex> lock(active_mutex_);
    active_.insert(request->transfer.get());
  }
  return request->transfer->Start();
}

HttpSession::ReadStatus CurlHttpSession::Read(Handle handle, std::uint8_t* buffer,
                                              std::size_t capacity, std::size_t& count) {
  count = 0;
  Request* request = Find<Request>(handle);
  if (request == nullptr || !request->transfer) return ReadStatus::Failed;
  return request->transfer->Read(buffer, capacity, count);
}

std::optional<std::uint64_t> CurlHttpSession::ReplyLengthHint(Handle handle) {
  auto* request = Find<Request>(handle);
  if (request == nullptr || !request->transfer) return std::nullopt;
  return request->transfer->AnnouncedLength();
}

std::optional<HttpSession::Redirect> CurlHttpSession::RedirectOf(Handle handle) {
  auto* request = Find<Request>(handle);
  if (request == nullptr || !request->transfer) return std::nullopt;
  return request->transfer->RedirectOf();
}

void CurlHttpSession::Close(Handle handle) {
  const auto it = objects_.find(handle);
  if (it == objects_.end()) return;
  if (auto* request = dynamic_cast<Request*>(it->second.get()); request && request->transfer) {
    std::lock_guard<std::mutex> lock(active_mutex_);
    active_.erase(request->transfer.get());
  }
  objects_.erase(it);
}

void CurlHttpSession::ResetAbort() { aborted_.store(false); }

void CurlHttpSession::Abort() {
  aborted_.store(true);
  std::lock_guard<std::mutex> lock(active_mutex_);
  for (CurlTransfer* transfer : active_) transfer->Wakeup();
}

}  // namespace tolvex::posix
