// Latencies the tests state no bound for (a loaded machine would fail
// correct code there), each as a ratio to a baseline taken in the same run:
// one whole receive of the component from the sample server.
//  - timeout: how far past its fourth period a receive from a server that
//    never answers returns (period 200 ms);
//  - Ctrl-C: how long the tolvex command takes to exit once pressed while
//    its post waits on such a server;
//  - slow clients: a receive while a dozen clients hold the server's
//    workers with unfinished requests.
// Medians of --rounds (default 5).
//
//   latency_bench [--rounds N]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "archive/zip_archiver.h"
#include "component/text.h"
#include "component/tolvex.h"
#include "curl_http_session.h"
#include "dialog/frm_tolvex.h"
#include "sample_server.h"
#include "terminal_dialog_window.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using tolvex::bench::SampleServer;

constexpr std::uint32_t kPeriodMs = 200;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The component on the real back ends, its response period shortened.
struct Component {
  Component() { dialog.response_period_ms = kPeriodMs; }
  tolvex::StdFileSystem files;
  tolvex::posix::CurlHttpSession http;
  tolvex::ZipArchiver archive{files, tolvex::kPosixPathStyle};
  tolvex::posix::TerminalDialogWindow window{true};
  tolvex::JobState state;
  tolvex::ServerAddress address;
  tolvex::FrmTolvex dialog{window, {state, address, http, archive, files, tolvex::kPosixPathStyle}};
  tolvex::NoMousePointer pointer;
  tolvex::Tolvex tolvex{{state, dialog, pointer, files}};
};

std::string Url(int port) { return "http://127.0.0.1:" + std::to_string(port) + "/"; }

// Milliseconds of one receive by a fresh component; its result in `code`.
double TimedReceive(int port, const fs::path& file, std::int16_t& code) {
  Component c;
  const auto start = Clock::now();
  code = c.tolvex.RecvSO(tolvex::FromUtf8(Url(port)), u"key-1", u"C001",
                         tolvex::Variant::String(tolvex::FromUtf8(file.string())));
  return Ms(Clock::now() - start);
}

// A client connection that sends part of a request and holds it.
class HeldRequest {
 public:
  explicit HeldRequest(int port) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
      (void)!send(fd_, "POST /servlets/GetSOData HTTP/1.1\r\n", 35, MSG_NOSIGNAL);
    }
  }
  HeldRequest(const HeldRequest&) = delete;
  HeldRequest& operator=(const HeldRequest&) = delete;
  ~HeldRequest() { close(fd_); }

 private:
  int fd_;
};

// Milliseconds from SIGINT to the command's exit, pressed once the silent
// server has the whole request (its 63 bytes read by a listener here).
double CtrlCLatency(const fs::path& file) {
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof at;
  bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at);
  listen(listener, 1);
  getsockname(listener, reinterpret_cast<sockaddr*>(&at), &size);
  const std::string url = Url(ntohs(at.sin_port));
  const pid_t pid = fork();
  if (pid == 0) {
    execl(TOLVEX_CLI_PATH, TOLVEX_CLI_PATH, "--quiet", "recv", url.c_str(), "key-1", "C001",
          file.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  const int connection = accept(listener, nullptr, nullptr);
  std::string request;
  char buffer[4096];
  for (;;) {
    const auto head = request.find("\r\n\r\n");
    if (head != std::string::npos && request.size() >= head + 4 + 63) break;
    const ssize_t n = recv(connection, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    request.append(buffer, static_cast<std::size_t>(n));
  }
  const auto pressed = Clock::now();
  kill(pid, SIGINT);
  waitpid(pid, nullptr, 0);
  const double ms = Ms(Clock::now() - pressed);
  close(connection);
  close(listener);
  return ms;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 5;
  if (argc == 3 && std::string(argv[1]) == "--rounds") rounds = std::max(1, std::atoi(argv[2]));
  const fs::path dir = fs::temp_directory_path() / ("tolvex-latency-" + std::to_string(getpid()));
  fs::create_directories(dir / "server" / "outgoing");
  std::ofstream(dir / "server" / "companies.txt") << "C001 key-1\n";
  std::ofstream(dir / "server" / "outgoing" / "C001.dat") << std::string(3000, 'x');
  const std::string root = (dir / "server").string();
  const fs::path file = dir / "orders.txt";

  std::vector<double> baseline, timeout, ctrl_c, beside_slow;
  bool all_ok = true;
  for (int round = 0; round < rounds; ++round) {
    std::int16_t code = -1;
    {
      const SampleServer live({"--root", root});
      baseline.push_back(TimedReceive(live.port(), file, code));
      all_ok = all_ok && code == 0;
      std::vector<std::unique_ptr<HeldRequest>> slow;
      for (int i = 0; i < 12; ++i) slow.push_back(std::make_unique<HeldRequest>(live.port()));
      beside_slow.push_back(TimedReceive(live.port(), file, code));
      all_ok = all_ok && code == 0;
    }
    {
      const SampleServer silent({"--root", root, "--never-answer"});
      timeout.push_back(TimedReceive(silent.port(), file, code) - 4.0 * kPeriodMs);
      all_ok = all_ok && code == 91;
    }
    ctrl_c.push_back(CtrlCLatency(file));
  }
  fs::remove_all(dir);

  const double base = Median(baseline);
  std::printf("%d rounds, medians; baseline: a whole receive, %.1f ms\n", rounds, base);
  const struct {
    const char* what;
    double ms;
  } rows[] = {
      {"timeout: past the fourth period", Median(timeout)},
      {"Ctrl-C: press to exit", Median(ctrl_c)},
      {"receive beside 12 held requests", Median(beside_slow)},
  };
  for (const auto& row : rows) {
    std::printf("%-34s %8.1f ms  %6.2f x baseline\n", row.what, row.ms, row.ms / base);
  }
  if (!all_ok) std::printf("a call gave an unexpected result\n");
  return all_ok ? 0 : 1;
}
