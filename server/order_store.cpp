#include "order_store.h"

#include <chrono>
#include <ctime>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

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
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%dT%H%M%S", &utc);
  char with_millis[40];
  std::snprintf(with_millis, sizeof with_millis, "%s%03dZ", text, static_cast<int>(millis));
  return with_millis;
}

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
  if (auto ready = ReadFileBytes(outgoing / (code + ".zip"))) return ready;
  const auto data = outgoing / (code + ".dat");
  if (!std::filesystem::is_regular_file(data)) return std::nullopt;
  return PackCompanyData(data);
}

std::filesystem::path OrderStore::StoreProgress(const std::string& code, const Bytes& archive) {
  std::lock_guard<std::mutex> lock(inbox_mutex_);
  const auto dir = root_ / "inbox" / code;
  std::filesystem::create_directories(dir);
  const std::string stamp = Timestamp();
  std::filesystem::path target = dir / (stamp + "-progress.zip");
  for (int n = 1; std::filesystem::exists(target); ++n) {
    target = dir / (stamp + "-" + std::to_string(n) + "-progress.zip");
  }
  // Written aside and renamed, so a reader never sees half an archive.
  const auto partial = dir / (target.filename().string() + ".part");
  {
    std::ofstream out(partial, std::ios::binary);
    out.write(reinterpret_cast<const char*>(archive.data()),
              static_cast<std::streamsize>(archive.size()));
    if (!out) throw std::runtime_error("cannot write " + partial.string());
  }
  std::filesystem::rename(partial, target);
  return target;
}

}  // namespace tolvex::server
