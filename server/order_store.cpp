#include "order_store.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "archive_fd.h"
#include "civil_time.h"
#include "pack_company_data.h"

namespace tolvex::server {
namespace {

std::optional<Bytes> ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::string Timestamp() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  const std::tm utc = UtcTime(seconds);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%dT%H%M%S", &utc);
  char with_millis[40];
  std::snprintf(with_millis, sizeof with_millis, "%s%03dZ", text, static_cast<int>(millis));
  return with_millis;
}

// "<time>-progress.zip" in `dir`, or "<time>-<n>-progress.zip" when two
// arrive in the same millisecond; the caller holds the inbox's lock.
std::filesystem::path FreeInboxName(const std::filesystem::path& dir) {
  const std::string stamp = Timestamp();
  std::filesystem::path target = dir / (stamp + "-progress.zip");
  for (int n = 1; std::filesystem::exists(target); ++n) {
    target = dir / (stamp + "-" + std::to_string(n) + "-progress.zip");
  }
  return target;
}

// Writes to a descriptor it does not own.
class FdFile : public WritableFile {
 public:
  explicit FdFile(int fd) : fd_(fd) {}
  void Write(const std::uint8_t* data, std::size_t size) override {
    while (size > 0) {
      const ssize_t put = write(fd_, data, size);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) throw FileError(std::string("write: ") + std::strerror(errno));
      data += put;
      size -= static_cast<std::size_t>(put);
    }
  }
  // An unnamed scratch file that goes with the process: never synced.
  bool Sync() override { return false; }
  void Close() override {}

 private:
  int fd_;
};

}  // namespace

bool IsSafeCompanyCode(const std::string& code) {
  if (code.empty() || code == "." || code == "..") return false;
  for (const unsigned char c : code) {
    if (c < 0x20 || c == '/' || c == '\\' || c == 0x7F) return false;
  }
  return true;
}

OrderStore::OrderStore(std::filesystem::path root) : root_(std::move(root)) {}

OrderStore::Access OrderStore::CheckAccess(const std::string& code, const std::string& key) const {
  // Read on every request, so the list can change while the server runs.
  std::ifstream in(root_ / "companies.txt");
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string listed_code, listed_key;
    fields >> listed_code;
    std::getline(fields >> std::ws, listed_key);
    if (listed_code == code) return listed_key == key ? Access::kGranted : Access::kWrongKey;
  }
  return Access::kUnknownCompany;
}

std::optional<Bytes> OrderStore::OutgoingArchive(const std::string& code) const {
  const auto outgoing = root_ / "outgoing";
  if (auto ready = ReadFileBytes(outgoing / std::filesystem::u8path(code + ".zip"))) return ready;
  const auto data = outgoing / std::filesystem::u8path(code + ".dat");
  if (!std::filesystem::is_regular_file(data)) return std::nullopt;
  return PackCompanyData(data);
}

std::shared_ptr<const EncodedArchiveFile> OrderStore::LargeOutgoingArchive(
    const std::string& code, std::uint64_t from_size) const {
  const auto outgoing = root_ / "outgoing";
  std::error_code error;
  const auto ready = outgoing / (code + ".zip");
  if (std::filesystem::is_regular_file(ready, error)) {
    if (std::filesystem::file_size(ready, error) < from_size || error) return nullptr;
    const int fd = OpenArchiveForReading(ready);
    if (fd < 0) return nullptr;
    return std::make_shared<const EncodedArchiveFile>(fd);
  }
  const auto data = outgoing / (code + ".dat");
  if (!std::filesystem::is_regular_file(data, error)) return nullptr;
  if (std::filesystem::file_size(data, error) < from_size || error) return nullptr;
  const int fd = OpenUnnamedFile(outgoing);
  if (fd < 0) throw std::runtime_error("cannot make a file to pack " + data.string() + " into");
  try {
    FdFile out(fd);
    PackCompanyDataInto(data, out);
  } catch (...) {
    close(fd);
    throw;
  }
  return std::make_shared<const EncodedArchiveFile>(fd);
}

std::filesystem::path OrderStore::PartialProgress(const std::string& code) {
  const auto dir = root_ / "inbox" / code;
  std::filesystem::create_directories(dir);
  return dir / (".upload-" + std::to_string(getpid()) + "-" + std::to_string(++uploads_) + ".part");
}

std::filesystem::path OrderStore::CommitProgress(const std::string& code,
                                                 const std::filesystem::path& partial) {
  std::lock_guard<std::mutex> lock(inbox_mutex_);
  const auto dir = root_ / "inbox" / code;
  const std::filesystem::path target = FreeInboxName(dir);
  std::filesystem::rename(partial, target);
  return target;
}

std::filesystem::path OrderStore::StoreProgress(const std::string& code, const Bytes& archive) {
  std::lock_guard<std::mutex> lock(inbox_mutex_);
  const auto dir = root_ / "inbox" / std::filesystem::u8path(code);
  std::filesystem::create_directories(dir);
  const std::filesystem::path target = FreeInboxName(dir);
  // Written aside and renamed, so a reader never sees half an archive.
  auto partial = target;
  partial += ".part";
  {
    std::ofstream out(partial, std::ios::binary);
    out.write(reinterpret_cast<const char*>(archive.data()),
              static_cast<std::streamsize>(archive.size()));
    if (!out) throw std::runtime_error("cannot write " + partial.u8string());
  }
  std::filesystem::rename(partial, target);
  return target;
}

}  // namespace tolvex::server
