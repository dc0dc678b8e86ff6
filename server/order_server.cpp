#include "order_server.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <limits>
#include <optional>

#include "civil_time.h"
#include "servlets.h"
#include "socket_policy.h"

namespace tolvex::server {
namespace {

// What the handler did, for the log line written after the reply went out.
thread_local std::string request_outcome;
thread_local std::uint64_t request_bytes = 0;
// Set when the reply goes out before the body was read.
thread_local bool drain_after_reply = false;

// Made once per size and shared, never copied: the benchmark asks for the
// same large reply again and again and must time the transfer, not the
// making of it.
std::shared_ptr<const std::string> PatternBody(std::size_t size) {
  static std::mutex mutex;
  static std::shared_ptr<const std::string> cached;
  std::lock_guard<std::mutex> lock(mutex);
  if (!cached || cached->size() != size) {
    auto body = std::make_shared<std::string>(size, '\0');
    for (std::size_t i = 0; i < size; ++i) (*body)[i] = static_cast<char>(i % 251);
    cached = std::move(body);
  }
  return cached;
}

// The Content-Length; the largest value when it does not fit, nothing
// when there is none or it is no number.
std::optional<std::uint64_t> AnnouncedLength(const httplib::Request& request) {
  const std::string text = request.get_header_value("Content-Length");
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) {
      return std::numeric_limits<std::uint64_t>::max();
    }
    value = value * 10 + digit;
  }
  return value;
}

// What one call of the content provider sends when nothing slows it.
constexpr std::size_t kSendPiece = 256 * 1024;

std::string Now() {
  const std::time_t t = std::time(nullptr);
  const std::tm utc = UtcTime(t);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

}  // namespace

#ifdef CPPHTTPLIB_OPENSSL_SUPPORT
const bool kServerHasTls = true;
#else
const bool kServerHasTls = false;
#endif

OrderServer::OrderServer(ServerOptions options)
    : options_(std::move(options)), store_(options_.root) {
#ifdef CPPHTTPLIB_OPENSSL_SUPPORT
  if (Secure()) {
    http_ =
        std::make_unique<httplib::SSLServer>(options_.tls_cert.c_str(), options_.tls_key.c_str());
  }
#endif
  if (!http_) http_ = std::make_unique<httplib::Server>();
  // The body is taken by the handler itself, so that the header is judged
  // before the rest is held and no content type has a smaller limit.
  http_->Post(".*", [this](const httplib::Request& req, httplib::Response& res,
                           const httplib::ContentReader& content) { Handle(req, res, content); });
  http_->set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    return RefuseOversized(req, res);
  });
  http_->set_payload_max_length(static_cast<std::size_t>(
      std::min<std::uint64_t>(options_.max_body, std::numeric_limits<std::size_t>::max())));
  // A slow or silent client holds one worker until a timeout; there are
  // enough workers that a handful of them leave the rest served.
  http_->set_read_timeout(static_cast<time_t>(options_.read_timeout_seconds), 0);
  http_->set_keep_alive_timeout(static_cast<time_t>(options_.idle_timeout_seconds));
  http_->new_task_queue = [workers = options_.workers]() -> httplib::TaskQueue* {
    // The server takes ownership of the queue it is handed.
    return std::make_unique<httplib::ThreadPool>(workers).release();
  };
  // A second server on a port in use must fail to bind rather than share
  // the port and split the requests.
  http_->set_socket_options(ListenExclusively);
  http_->set_logger([](const httplib::Request& req, const httplib::Response& res) {
    std::fprintf(stderr, "%s %s %s %s %d %llu bytes in, %s\n", Now().c_str(),
                 req.remote_addr.c_str(), req.method.c_str(), req.path.c_str(), res.status,
                 static_cast<unsigned long long>(request_bytes), request_outcome.c_str());
    std::fflush(stderr);
    request_outcome.clear();
    request_bytes = 0;
    if (drain_after_reply) {
      drain_after_reply = false;
      DrainRefusedConnection(req);
    }
  });
}

httplib::Server::HandlerResponse OrderServer::RefuseOversized(const httplib::Request& request,
                                                              httplib::Response& response) {
  const auto announced = AnnouncedLength(request);
  if (!announced || *announced <= options_.max_body) {
    return httplib::Server::HandlerResponse::Unhandled;
  }
  request_outcome = "refused: announces " + request.get_header_value("Content-Length") +
                    " bytes, over the limit of " + std::to_string(options_.max_body);
  response.status = 413;
  response.set_header("Connection", "close");
  drain_after_reply = true;
  return httplib::Server::HandlerResponse::Handled;
}

int OrderServer::Bind() {
  if (!http_->is_valid()) return -1;
  if (options_.listen_port == 0) return http_->bind_to_any_port(options_.listen_host);
  return http_->bind_to_port(options_.listen_host, options_.listen_port) ? options_.listen_port
                                                                         : -1;
}

bool OrderServer::Run() { return http_->listen_after_bind(); }

void OrderServer::Stop() {
  {
    std::lock_guard<std::mutex> lock(stop_mutex_);
    stopping_ = true;
  }
  stop_signal_.notify_all();
  http_->stop();
}

bool OrderServer::Wait(std::optional<std::size_t> ms) {
  std::unique_lock<std::mutex> lock(stop_mutex_);
  if (!ms) {
    stop_signal_.wait(lock, [this] { return stopping_; });
  } else {
    stop_signal_.wait_for(lock, std::chrono::milliseconds(*ms), [this] { return stopping_; });
  }
  return !stopping_;
}

void OrderServer::Handle(const httplib::Request& request, httplib::Response& response,
                         const httplib::ContentReader& content) {
  drain_after_reply = false;
  const std::string servlets = options_.context + "/servlets/";
  const char kind = request.path == servlets + "GetSOData"         ? '3'
                    : request.path == servlets + "PutProgressData" ? '1'
                                                                   : '\0';
  std::optional<BodyIntake> intake;
  if (kind != '\0') {
    intake.emplace(store_, kind, options_.max_body, AnnouncedLength(request).value_or(0),
                   options_.header_charset);
  }
  std::string intake_error;
  const bool whole = content([&](const char* data, std::size_t size) {
    request_bytes += size;
    if (!intake || !intake_error.empty()) return true;
    try {
      intake->Take(data, size);
    } catch (const std::exception& e) {
      intake_error = e.what();
      intake.reset();
    }
    return true;
  });
  if (!whole) {
    // Nothing of a body cut short is kept, and the client is gone.
    request_outcome = "body cut short";
    response.status = 400;
    return;
  }

  const Misbehaviour mis = CurrentMisbehaviour(options_);
  if (mis.never_answer || mis.delay_ms > 0 || mis.Trickles()) {
    // Said as the request comes in, long before the line for its reply:
    // whoever waits on this server learns that the request is in.
    std::fprintf(stderr, "%s %s %s %s request in (%llu bytes), reply held back\n", Now().c_str(),
                 request.remote_addr.c_str(), request.method.c_str(), request.path.c_str(),
                 static_cast<unsigned long long>(request_bytes));
    std::fflush(stderr);
  }
  if (mis.never_answer) {
    request_outcome = "held without an answer";
    Wait(std::nullopt);
    response.status = 503;
    return;
  }
  if (mis.delay_ms > 0 && !Wait(mis.delay_ms)) return;

  std::shared_ptr<const std::string> head;
  std::shared_ptr<const EncodedArchiveFile> archive;
  int status = mis.status;
  if (mis.reply_body) {
    head = std::make_shared<const std::string>(*mis.reply_body);
    request_outcome = "raw reply";
  } else if (mis.reply_size) {
    head = PatternBody(*mis.reply_size);
    request_outcome = "raw reply";
  } else {
    std::string servlet_body;
    if (kind == '\0') {
      request_outcome = "no such servlet";
      if (status == 200) {
        status = 404;
        servlet_body = "<html><body>Not Found</body></html>";
      }
    } else if (!intake_error.empty()) {
      request_outcome = "error: " + intake_error;
      servlet_body = "9";
    } else if (intake->TooLarge()) {
      request_outcome = intake->Finish().outcome;
      status = 413;
    } else {
      try {
        ServletReply reply = intake->Finish();
        request_outcome = "status " + reply.body.substr(0, 1) + ", " + reply.outcome;
        servlet_body = std::move(reply.body);
        archive = std::move(reply.archive);
      } catch (const std::exception& e) {
        request_outcome = std::string("error: ") + e.what();
        servlet_body = "9";
      }
    }
    head = std::make_shared<const std::string>(std::move(servlet_body));
  }
  response.status = status;
  if (!mis.location.empty()) response.set_header("Location", mis.location);

  // The whole length is announced; a drop sends only part of it, a trickle
  // sends it slowly. A large archive is encoded piece by piece as the
  // connection takes it.
  auto body = std::make_shared<OutgoingBody>(std::move(head), std::move(archive));
  const std::uint64_t size = body->size();
  const std::uint64_t limit =
      mis.drop_after ? std::min<std::uint64_t>(*mis.drop_after, size) : size;
  const std::size_t step = mis.Trickles() ? mis.trickle_bytes : kSendPiece;
  const std::size_t pause = mis.trickle_ms;
  response.set_content_provider(
      static_cast<std::size_t>(size), "text/plain",
      [this, body, limit, step, pause, piece = std::make_shared<std::string>()](
          std::size_t offset, std::size_t, httplib::DataSink& sink) {
        if (offset >= limit) return false;  // cut the connection short
        if (offset > 0 && pause > 0 && !Wait(pause)) return false;
        piece->resize(static_cast<std::size_t>(std::min<std::uint64_t>(step, limit - offset)));
        std::size_t filled = 0;
        try {
          while (filled < piece->size()) {
            const std::size_t got =
                body->Read(offset + filled, piece->data() + filled, piece->size() - filled);
            if (got == 0) return false;
            filled += got;
          }
        } catch (const std::exception&) {
          return false;  // the archive file failed: the reply ends short
        }
        return sink.write(piece->data(), filled);
      });
}

}  // namespace tolvex::server
