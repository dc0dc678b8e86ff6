// The server's data directory:
//   <root>/companies.txt            one company a line: CODE KEY
//   <root>/outgoing/<CODE>.dat      data GetSOData hands out (packed on the fly)
//   <root>/outgoing/<CODE>.zip      or a ready-made archive, taken as it is
//   <root>/inbox/<CODE>/<time>-progress.zip   what PutProgressData received
#pragma once

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include "net/form_codec.h"

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
  // Stores a received archive under a new timestamped name; returns its path.
  std::filesystem::path StoreProgress(const std::string& code, const Bytes& archive);

 private:
  std::filesystem::path root_;
  std::mutex inbox_mutex_;
};

// A code that is safe as a file name part: no separators, no "." or "..".
bool IsSafeCompanyCode(const std::string& code);

}  // namespace tolvex::server
