#include "order_server.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <iostream>

#include "servlets.h"

namespace tolvex::server {
namespace {

// What the handler did, for the log line written after the reply went out.
thread_local std::string request_outcome;

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

std::string Now() {
  const std::time_t t = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&t, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

}  // namespace

OrderServer::OrderServer(ServerOptions options)
    : options_(std::move(options)), store_(options_.root) {
  if (Secure()) {
    http_ =
        std::make_unique<httplib::SSLServer>(options_.tls_cert.c_str(), options_.tls_key.c_str());
  } else {
    http_ = std::make_unique<httplib::Server>();
  }
  http_->Post(".*",
              [this](const httplib::Request& req, httplib::Response& res) { Handle(req, res); });
  http_->set_logger([](const httplib::Request& req, const httplib::Response& res) {
    std::fprintf(stderr, "%s %s %s %s %d %zu bytes in, %s\n", Now().c_str(),
                 req.remote_addr.c_str(), req.method.c_str(), req.path.c_str(), res.status,
                 req.body.size(), request_outcome.c_str());
    std::fflush(stderr);
    request_outcome.clear();
  });
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

std::string OrderServer::ServletBody(const httplib::Request& request, std::string& outcome) {
  const std::string servlets = options_.context + "/servlets/";
  ServletReply reply;
  if (request.path == servlets + "GetSOData") {
    reply = GetSOData(store_, request.body, options_.header_charset);
  } else if (request.path == servlets + "PutProgressData") {
    reply = PutProgressData(store_, request.body, options_.header_charset);
  } else {
    outcome = "no such servlet";
    return {};
  }
  outcome = std::string("status ") + reply.body.substr(0, 1) + ", " + reply.outcome;
  return std::move(reply.body);
}

void OrderServer::Handle(const httplib::Request& request, httplib::Response& response) {
  const Misbehaviour mis = CurrentMisbehaviour(options_);
  if (mis.never_answer) {
    request_outcome = "held without an answer";
    Wait(std::nullopt);
    response.status = 503;
    return;
  }
  if (mis.delay_ms > 0 && !Wait(mis.delay_ms)) return;

  std::shared_ptr<const std::string> body;
  int status = mis.status;
  if (mis.reply_body) {
    body = std::make_shared<const std::string>(*mis.reply_body);
    request_outcome = "raw reply";
  } else if (mis.reply_size) {
    body = PatternBody(*mis.reply_size);
    request_outcome = "raw reply";
  } else {
    std::string servlet_body;
    try {
      servlet_body = ServletBody(request, request_outcome);
    } catch (const std::exception& e) {
      request_outcome = std::string("error: ") + e.what();
      servlet_body = "9";
    }
    if (request_outcome == "no such servlet" && status == 200) {
      status = 404;
      servlet_body = "<html><body>Not Found</body></html>";
    }
    body = std::make_shared<const std::string>(std::move(servlet_body));
  }
  response.status = status;

  // The whole length is announced; a drop sends only part of it, a trickle
  // sends it slowly.
  const std::size_t limit = mis.drop_after ? std::min(*mis.drop_after, body->size()) : body->size();
  const std::size_t step = mis.Trickles() ? mis.trickle_bytes : body->size();
  const std::size_t pause = mis.trickle_ms;
  response.set_content_provider(
      body->size(), "text/plain",
      [this, body, limit, step, pause](std::size_t offset, std::size_t, httplib::DataSink& sink) {
        if (offset >= limit) return false;  // cut the connection short
        if (offset > 0 && pause > 0 && !Wait(pause)) return false;
        const std::size_t n = std::min(step, limit - offset);
        return sink.write(body->data() + offset, n);
      });
}

}  // namespace tolvex::server
