// Peak memory and time of whole transfers: the real `tolvex` command
// receiving from and sending to `tolvex-server` over loopback, for files of
// random bytes (the archive does not shrink them, so the form encoding makes
// the payload about 2.5 times the file) and of CSV-like text (the archive
// shrinks them several times). The peak resident set of each command comes
// from wait4, and so does the server's.
//
// Target: the command's peak at most its own base (a receive of a 1 KiB
// file) + 16 MiB, whatever the size. With --baseline, the same runs are
// made with another build of the command (today's), against the same
// server, and each row gives the ratios of ours to it. Receives are also
// timed against curl fetching the same reply plus unzip unpacking the same
// archive. Payload sizes are worked out here with the same zip writer and
// codec, a piece at a time, so they match the wire to within a few bytes.
//
// A send the server refuses (an older server caps form bodies) is run
// again against a sink in this process that takes any body and answers
// "0"; its row says so.
//
//   transfer_memory_bench [--sizes 1,100,1000] [--kinds random,csv]
//                         [--tolvex PATH] [--baseline PATH] [--dir DIR]
// Exits 1 when any row of ours is over its limit or its transfer failed,
// so that CI can run it.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <strings.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "net/form_codec.h"
#include "pack_company_data.h"
#include "sample_server.h"

namespace {

using tolvex::bench::SampleServer;

namespace fs = std::filesystem;
constexpr double kMiB = 1024.0 * 1024.0;

std::vector<std::string> Split(const std::string& list) {
  std::vector<std::string> parts;
  std::stringstream in(list);
  std::string part;
  while (std::getline(in, part, ',')) parts.push_back(part);
  return parts;
}

void WriteData(const fs::path& path, const std::string& kind, std::size_t bytes) {
  std::ofstream out(path, std::ios::binary);
  std::mt19937_64 rng(bytes);
  std::string chunk;
  std::size_t written = 0;
  while (written < bytes) {
    chunk.clear();
    if (kind == "random") {
      chunk.resize(1 << 16);
      for (std::size_t i = 0; i < chunk.size(); i += 8) {
        const std::uint64_t v = rng();
        std::memcpy(&chunk[i], &v, 8);
      }
    } else {
      // Order lines: dates, codes, quantities and prices that repeat in
      // shape but not in value.
      char line[160];
      for (int i = 0; i < 400; ++i) {
        const auto r = rng();
        const int n = std::snprintf(
            line, sizeof line, "2026-%02u-%02u,ORD%07u,ITEM-%05u,%u,%u.%02u,%s\r\n",
            static_cast<unsigned>(r % 12 + 1), static_cast<unsigned>(r >> 8 & 27) + 1,
            static_cast<unsigned>(r >> 16 & 0xFFFFF), static_cast<unsigned>(r >> 36 & 0x3FFF),
            static_cast<unsigned>(r >> 50 & 63) + 1, static_cast<unsigned>(r >> 20 & 0x7FFF),
            static_cast<unsigned>(r >> 12 & 63),
            (r & 3) == 0   ? "Tokyo warehouse"
            : (r & 3) == 1 ? "Osaka"
                           : "direct");
        chunk.append(line, static_cast<std::size_t>(n));
      }
    }
    const std::size_t n = std::min(chunk.size(), bytes - written);
    out.write(chunk.data(), static_cast<std::streamsize>(n));
    written += n;
  }
}

// Counts the encoded length of what is written to it, and keeps the
// archive itself for the reference unzip.
class EncodedCounter : public tolvex::WritableFile {
 public:
  explicit EncodedCounter(const fs::path& copy) : copy_(copy, std::ios::binary) {}
  void Write(const std::uint8_t* data, std::size_t size) override {
    encoded += tolvex::FormEncodedSize(data, size);
    copy_.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  bool Sync() override { return false; }
  void Close() override { copy_.close(); }
  std::uint64_t encoded = 0;

 private:
  std::ofstream copy_;
};

// What the wire carries for this file: 1 + the encoded archive for a
// reply, 63 + the encoded archive for a request body. The archive is left
// at `archive` for the reference run.
std::uint64_t EncodedArchiveSize(const fs::path& file, const fs::path& archive) {
  EncodedCounter counter(archive);
  tolvex::server::PackCompanyDataInto(file, counter);
  counter.Close();
  return counter.encoded;
}

// Takes one request of any length, discarding it, and answers "0".
class Sink {
 public:
  Sink() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0 || listen(fd_, 1) != 0) {
      throw std::runtime_error("sink");
    }
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~Sink() {
    thread_.join();
    close(fd_);
  }
  int port() const { return port_; }

 private:
  void Serve() {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 600000) != 1) return;
    const int c = accept(fd_, nullptr, nullptr);
    if (c < 0) return;
    std::string head;
    std::vector<char> buffer(1 << 16);
    std::size_t body_left = std::string::npos;
    while (body_left != 0) {
      const ssize_t n = recv(c, buffer.data(), buffer.size(), 0);
      if (n <= 0) break;
      if (body_left == std::string::npos) {
        head.append(buffer.data(), static_cast<std::size_t>(n));
        const auto end = head.find("\r\n\r\n");
        if (end == std::string::npos) continue;
        std::size_t length = 0;
        for (std::size_t at = 0; (at = head.find("\r\n", at)) != std::string::npos && at < end;) {
          at += 2;
          if (strncasecmp(head.c_str() + at, "Content-Length:", 15) == 0) {
            length = std::strtoull(head.c_str() + at + 15, nullptr, 10);
          }
        }
        const std::size_t have = head.size() - end - 4;
        body_left = length > have ? length - have : 0;
      } else {
        body_left -= std::min(body_left, static_cast<std::size_t>(n));
      }
    }
    const std::string reply = "HTTP/1.0 200 OK\r\nContent-Length: 1\r\n\r\n0";
    (void)!send(c, reply.data(), reply.size(), MSG_NOSIGNAL);
    shutdown(c, SHUT_WR);
    close(c);
  }

  int fd_ = -1;
  int port_ = 0;
  std::thread thread_;
};

using Clock = std::chrono::steady_clock;

struct Run {
  int status = -1;
  double peak_mib = 0;
  double seconds = 0;
  double server_peak_mib = 0;
};

Run RunTolvex(const std::string& tolvex, const std::string& verb, int port, const fs::path& file) {
  const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/";
  const pid_t pid = fork();
  if (pid == 0) {
    const int null_fd = open("/dev/null", O_WRONLY);
    dup2(null_fd, STDOUT_FILENO);
    dup2(null_fd, STDERR_FILENO);
    execl(tolvex.c_str(), tolvex.c_str(), "--quiet", verb.c_str(), url.c_str(), "key-1", "C001",
          file.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  const auto start = Clock::now();
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  Run run;
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.peak_mib = static_cast<double>(usage.ru_maxrss) / 1024.0;  // KiB on Linux
  return run;
}

bool SameContent(const fs::path& a, const fs::path& b) {
  std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
  std::vector<char> bx(1 << 20), by(1 << 20);
  for (;;) {
    x.read(bx.data(), static_cast<std::streamsize>(bx.size()));
    y.read(by.data(), static_cast<std::streamsize>(by.size()));
    if (x.gcount() != y.gcount()) return false;
    if (!std::equal(bx.begin(), bx.begin() + x.gcount(), by.begin())) return false;
    if (x.gcount() == 0) return true;
  }
}

// Wall time of a shell command; negative when it failed.
double TimeCommand(const std::string& command) {
  const auto start = Clock::now();
  const int status = std::system(command.c_str());
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return status == 0 ? seconds : -1;
}

// curl fetching the reply the command fetches, plus unzip unpacking the
// archive it carries: what a script doing the same job by hand would take.
double CurlAndUnzip(int port, const fs::path& work, const fs::path& archive) {
  const std::string header = "3C001        key-1" + std::string(45, ' ');
  std::ofstream(work / "header.txt", std::ios::binary) << header;
  const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/servlets/GetSOData";
  const double fetch = TimeCommand(
      "curl -s -S --http1.0 -A VB6 -H 'Accept:' "
      "-H 'Content-Type:application/x-www-form-urlencoded' --data-binary @'" +
      (work / "header.txt").string() + "' -o '" + (work / "reply.txt").string() + "' '" + url +
      "'");
  const double unzip = TimeCommand("unzip -qq -o '" + archive.string() + "' -d '" +
                                   (work / "unzipped").string() + "'");
  fs::remove_all(work / "unzipped");
  fs::remove(work / "reply.txt");
  return fetch < 0 || unzip < 0 ? -1 : fetch + unzip;
}

struct Row {
  const char* direction;
  std::string kind;
  int mib;
  double payload_mib;
  Run ours;
  std::optional<Run> today;
  double reference_seconds = -1;  // curl + unzip, receives only
  std::string note;
};

// Prints the row; true when our transfer succeeded within the limit.
bool Report(const Row& row, double base_mib) {
  const double limit = base_mib + 16;
  std::printf("%-4s %-6s %5d MiB  wire %7.1f MiB  peak %6.1f MiB %-4s  %7.2f s  server %6.1f MiB",
              row.direction, row.kind.c_str(), row.mib, row.payload_mib, row.ours.peak_mib,
              row.ours.status != 0         ? "FAIL"
              : row.ours.peak_mib <= limit ? "ok"
                                           : "OVER",
              row.ours.seconds, row.ours.server_peak_mib);
  if (row.today) {
    std::printf("  | today peak %7.1f MiB %7.2f s  ratio peak %5.3f time %5.2f",
                row.today->peak_mib, row.today->seconds, row.ours.peak_mib / row.today->peak_mib,
                row.ours.seconds / row.today->seconds);
  }
  if (row.reference_seconds > 0) {
    std::printf("  | curl+unzip %6.2f s ratio %4.2f", row.reference_seconds,
                row.ours.seconds / row.reference_seconds);
    if (row.today) std::printf(" (today %4.2f)", row.today->seconds / row.reference_seconds);
  }
  std::printf("%s\n", row.note.c_str());
  if (row.ours.status != 0) std::printf("     exit status %d\n", row.ours.status);
  if (row.today && row.today->status != 0) {
    std::printf("     today's exit status %d\n", row.today->status);
  }
  std::fflush(stdout);
  return row.ours.status == 0 && row.ours.peak_mib <= limit;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> sizes = {"1", "100", "1000"}, kinds = {"random", "csv"};
  std::string tolvex = TOLVEX_CLI_PATH, baseline;
  fs::path dir = fs::temp_directory_path() / ("tolvex-memory-bench-" + std::to_string(getpid()));
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string key = argv[i], value = argv[i + 1];
    if (key == "--sizes") {
      sizes = Split(value);
    } else if (key == "--kinds") {
      kinds = Split(value);
    } else if (key == "--tolvex") {
      tolvex = value;
    } else if (key == "--baseline") {
      baseline = value;
    } else if (key == "--dir") {
      dir = value;
    } else {
      std::fprintf(stderr, "unknown option %s\n", key.c_str());
      return 2;
    }
  }
  const fs::path root = dir / "server", client = dir / "client", work = dir / "work";
  fs::create_directories(root / "outgoing");
  fs::create_directories(client);
  fs::create_directories(work);
  std::ofstream(root / "companies.txt") << "C001 key-1\n";
  const fs::path data = root / "outgoing" / "C001.dat";
  const fs::path archive = work / "C001.zip";

  // One receive and one send with the command, against a fresh server.
  const auto receive = [&](const std::string& program) {
    SampleServer server({"--root", root.string(), "--max-body", "8G"});
    const fs::path target = client / "orders.dat";
    Run run = RunTolvex(program, "recv", server.port(), target);
    server.Stop();
    run.server_peak_mib = server.peak_mib();
    if (run.status == 0 && !SameContent(data, target)) run.status = -2;  // content differs
    fs::remove(target);
    return run;
  };
  const auto send = [&](const std::string& program, std::string& note) {
    const fs::path progress = client / "progress.dat";
    fs::copy_file(data, progress, fs::copy_options::overwrite_existing);
    Run run;
    {
      SampleServer server({"--root", root.string(), "--max-body", "8G"});
      run = RunTolvex(program, "send", server.port(), progress);
      server.Stop();
      run.server_peak_mib = server.peak_mib();
    }
    if (run.status == 90) {
      Sink sink;
      run = RunTolvex(program, "send", sink.port(), progress);
      note = " (sink: the server refused the body)";
    }
    fs::remove(progress);
    fs::remove_all(root / "inbox");
    return run;
  };

  WriteData(data, "csv", 1024);
  const double base_mib = receive(tolvex).peak_mib;
  std::printf("%s\nbase (a receive of 1 KiB): peak %.1f MiB; limit base + 16 MiB = %.1f MiB\n",
              tolvex.c_str(), base_mib, base_mib + 16);
  if (!baseline.empty()) std::printf("today: %s\n", baseline.c_str());

  int failed_rows = 0;
  for (const auto& kind : kinds) {
    for (const auto& size : sizes) {
      const int mib = std::atoi(size.c_str());
      WriteData(data, kind, static_cast<std::size_t>(mib) << 20);
      const double archive_mib = static_cast<double>(EncodedArchiveSize(data, archive)) / kMiB;

      // Receive: the server packs and encodes outgoing/C001.dat.
      Row recv{"recv", kind, mib, archive_mib + 1 / kMiB, receive(tolvex), std::nullopt, -1, ""};
      if (!baseline.empty()) recv.today = receive(baseline);
      {
        SampleServer server({"--root", root.string()});
        recv.reference_seconds = CurlAndUnzip(server.port(), work, archive);
      }
      if (!Report(recv, base_mib)) ++failed_rows;
      // Send the same bytes as a progress file.
      std::string note;
      const Run ours = send(tolvex, note);
      Row sent{"send", kind, mib, archive_mib + 63 / kMiB, ours, std::nullopt, -1, note};
      if (!baseline.empty()) sent.today = send(baseline, note);
      if (!Report(sent, base_mib)) ++failed_rows;
    }
  }
  fs::remove_all(dir);
  if (failed_rows > 0) std::printf("%d row(s) over the limit or failed\n", failed_rows);
  return failed_rows > 0 ? 1 : 0;
}
