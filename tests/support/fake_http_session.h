// An HttpSession that answers every post with a scripted reply and records
// the request.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "net/http_session.h"

namespace tolvex::testing {

class FakeHttpSession : public HttpSession {
 public:
  Handle Open(const std::u16string&) override { return fail_send ? 1 : 1; }
  Handle Connect(Handle, const std::u16string& host, std::uint16_t port) override {
    connected_host = host;
    connected_port = port;
    return 2;
  }
  Handle OpenRequest(Handle, const std::u16string&, const std::u16string& path,
                     const std::u16string&, bool) override {
    request_path = path;
    return 3;
  }
  bool AddHeader(Handle, const std::u16string&) override { return true; }
  bool Send(Handle, const std::u16string& body) override {
    ++posts;
    sent_body = body;
    offset_ = 0;
    return !fail_send;
  }
  ReadStatus Read(Handle, std::uint8_t* buffer, std::size_t capacity, std::size_t& count) override {
    count = std::min(capacity, reply.size() - offset_);
    if (count == 0) return ReadStatus::End;
    std::memcpy(buffer, reply.data() + offset_, count);
    offset_ += count;
    return ReadStatus::Data;
  }
  void Close(Handle) override {}

  void Reply(const std::string& bytes) { reply.assign(bytes.begin(), bytes.end()); }

  std::vector<std::uint8_t> reply;
  bool fail_send = false;
  int posts = 0;
  std::u16string sent_body, connected_host, request_path;
  std::uint16_t connected_port = 0;

 private:
  std::size_t offset_ = 0;
};

}  // namespace tolvex::testing
