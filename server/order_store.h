// The server's data directory:
//   <root>/companies.txt            one company a line: CODE KEY
//   <root>/outgoing/<CODE>.dat      data GetSOData hands out (packed on the fly)
//   <root>/outgoing/<CODE>.zip      or a ready-made archive, taken as it is
//   <root>/inbox/<CODE>/<time>-progress.zip   what PutProgressData received
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "net/form_codec.h"
#include "outgoing_body.h"

namespace tolvex::server {

class OrderStore {
 public:
  explicit OrderStore(std::filesystem::path root);

  enum class Access { kGranted, kUnknownCompany, kWrongKey };
  Access CheckAccess(const std::string& code, const std::string& key) const;
  // True when the company is listed with exactly this key.
  bool Authorised(const std::string& code, const std::string& key) const {
    return CheckAccess(code, key) == Access::kGranted;
  }
  // The archive for the company's outgoing data, or nothing when none waits.
  std::optional<Bytes> OutgoingArchive(const std::string& code) const;
  // The company's outgoing archive in a file, encoded as it is sent, when
  // its data is at least `from_size` bytes; nothing otherwise (a small one
  // is taken whole by OutgoingArchive). Data is packed into a file of its
  // own that no name reaches, gone once the last reader lets go.
  std::shared_ptr<const EncodedArchiveFile> LargeOutgoingArchive(const std::string& code,
                                                                 std::uint64_t from_size) const;
  // Stores a received archive under a new timestamped name; returns its path.
  std::filesystem::path StoreProgress(const std::string& code, const Bytes& archive);
  // A file in the company's inbox to receive an upload into, not yet seen
  // as a delivery.
  std::filesystem::path PartialProgress(const std::string& code);
  // Puts a completed upload in place under a new timestamped name.
  std::filesystem::path CommitProgress(const std::string& code,
                                       const std::filesystem::path& partial);

 private:
  std::filesystem::path root_;
  std::mutex inbox_mutex_;
  std::atomic<std::uint64_t> uploads_{0};
};

// A code that is safe as a file name part: no separators, no "." or "..".
bool IsSafeCompanyCode(const std::string& code);

}  // namespace tolvex::server
