// The two servlets: the request header a client sends, and the one-byte
// status (plus payload) it gets back.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "order_store.h"

namespace tolvex::server {

struct RequestHeader {
  char kind = 0;     // '3' GetSOData, '1' PutProgressData
  std::string code;  // padding removed
  std::string key;   // padding removed
  std::size_t payload_offset = 0;
};

// Reads 63 characters: the kind, 12 of company code, 50 of key. Characters
// are UTF-8 sequences (one outside the BMP counts two, as a client counts
// UTF-16 units); a header that is not valid UTF-8 is read a byte a
// character. Nothing when the body is shorter than the header.
std::optional<RequestHeader> ParseRequestHeader(const std::string& body);

struct ServletReply {
  std::string body;
  std::string outcome;  // for the request log
};

ServletReply GetSOData(OrderStore& store, const std::string& body);
ServletReply PutProgressData(OrderStore& store, const std::string& body);

}  // namespace tolvex::server
