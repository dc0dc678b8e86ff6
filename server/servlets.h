// The two servlets: the request header a client sends, and the one-byte
// status (plus payload) it gets back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "component/file_system.h"
#include "net/form_stream.h"
#include "net/servlet_protocol.h"
#include "order_store.h"
#include "outgoing_body.h"

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

// A body's first this many bytes hold the whole header, whatever its
// characters, so the header can be judged before the rest arrives.
inline constexpr std::size_t kHeaderMaxBytes = 4 * kRequestHeaderLength;

// Why a request with this header is refused (short header, one not in the
// charset, bad kind, unknown company, wrong key), for the log; nothing when
// it may be served.
// `body` may end anywhere after its first kHeaderMaxBytes bytes.
// A charset reads the header as ParseRequestHeader does.
std::optional<std::string> HeaderRefusal(OrderStore& store, const std::string& body, char kind,
                                         const std::string& charset = {});

// Why a received archive is not stored: not a zip, no file in it, or a
// member whose data does not match its CRC or size. Nothing when sound.
std::optional<std::string> ArchiveDefect(const Bytes& archive);
std::optional<std::string> ArchiveDefect(ReadableFile& archive);

// Outgoing data of at least this size is encoded as it is sent.
inline constexpr std::uint64_t kStreamedFrom = std::uint64_t{1} << 20;

struct ServletReply {
  std::string body;
  std::string outcome;  // for the request log
  // When set, the body goes on with this archive, form-encoded as sent.
  std::shared_ptr<const EncodedArchiveFile> archive;
};

ServletReply GetSOData(OrderStore& store, const std::string& body, const std::string& charset = {});
ServletReply PutProgressData(OrderStore& store, const std::string& body,
                             const std::string& charset = {});
// PutProgressData's last step, for an archive already decoded: the header
// was accepted for `code`.
ServletReply StoreProgressArchive(OrderStore& store, const std::string& code, const Bytes& archive);

// A servlet's request body taken as it arrives. The header is judged as
// soon as it is complete; a refused body is only counted from then on, so
// a stranger or a wrong key cannot make the server hold a large upload.
class BodyIntake {
 public:
  // `kind` is the servlet's ('3' GetSOData, '1' PutProgressData);
  // `announced` the Content-Length, 0 when none was given; `charset` the
  // header's, as ParseRequestHeader takes it.
  BodyIntake(OrderStore& store, char kind, std::uint64_t max_body, std::uint64_t announced,
             std::string charset = {});

  void Take(const char* data, std::size_t size);
  // The servlet's reply, once the whole body has arrived.
  ServletReply Finish();
  // More than max_body bytes arrived: the reply is an HTTP 413.
  bool TooLarge() const { return received_ > max_body_; }
  // Bytes of body memory held now.
  std::size_t Held() const { return head_.capacity() + decoded_piece_.capacity(); }
  ~BodyIntake();

 private:
  void Judge();
  // Decodes PutProgressData's archive as it arrives straight into a file
  // in the inbox, so that no part of it is held longer than a piece.
  void Decode(const char* data, std::size_t size);
  void Undecodable();
  void DropPartial();

  OrderStore& store_;
  char kind_;
  std::uint64_t max_body_;
  std::uint64_t announced_;
  std::string charset_;
  std::uint64_t received_ = 0;
  bool judged_ = false;
  std::optional<std::string> refusal_;
  std::string head_;  // the header, and for GetSOData whatever followed it
  std::string code_;
  // PutProgressData's archive, decoded into a file not yet a delivery.
  std::filesystem::path partial_;
  std::unique_ptr<WritableFile> archive_;
  std::uint64_t archive_size_ = 0;
  FormDecoder decoder_;
  bool undecodable_ = false;
  Bytes decoded_piece_;  // reused from piece to piece
};

}  // namespace tolvex::server
