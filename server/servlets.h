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

// Reads 63 characters: the kind, 12 of company code, 50 of key. A
// character outside the BMP counts two, as a client counts UTF-16 units.
// Without a charset, characters are UTF-8 sequences, and a header that is
// not valid UTF-8 is read a byte a character. With one (an iconv name such
// as "CP932"), the header is read in it and code and key come out in UTF-8;
// a byte sequence that is no character of it gives nothing. Nothing when
// the body is shorter than the header.
std::optional<RequestHeader> ParseRequestHeader(const std::string& body,
                                                const std::string& charset = {});

struct ServletReply {
  std::string body;
  std::string outcome;  // for the request log
};

ServletReply GetSOData(OrderStore& store, const std::string& body, const std::string& charset = {});
ServletReply PutProgressData(OrderStore& store, const std::string& body,
                             const std::string& charset = {});

}  // namespace tolvex::server
