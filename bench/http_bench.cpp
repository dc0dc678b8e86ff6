// A 64 MiB reply over loopback: PostRequest on the libcurl session against
// the curl command posting the same body to the same server in the same
// run, taken in turns, medians reported. Two ways to hold the reply:
//  - fresh: each post in a new child process with an empty ResponseBytes,
//    as one run of the command-line client does;
//  - kept: posts in one process reusing ResponseBytes, as the dialog keeps
//    it from one call to the next.
// Peak memory is the growth of the peak resident set during a post.
//
//   http_bench [--size BYTES] [--rounds N]
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "component/text.h"
#include "curl_http_session.h"
#include "net/post_request.h"
#include "sample_server.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Notes when the notice is shown, that is when the send has returned.
class TimingDisplay : public tolvex::StatusDisplay {
 public:
  Clock::time_point shown;
  void SetStatusText(const std::u16string&) override { shown = Clock::now(); }
  void Repaint() override {}
};

long StatusKiB(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::string(field).size());
  }
  return -1;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

struct Sample {
  double total = 0, send = 0;
  long peak_growth_kib = 0;
  bool ok = false;
};

Sample PostOnce(const tolvex::ServerAddress& address, const tolvex::Bytes& body,
                tolvex::Bytes& reply, std::size_t size) {
  TimingDisplay display;
  std::ofstream("/proc/self/clear_refs") << "5";  // restart the peak from here
  const long before = StatusKiB("VmRSS:");
  tolvex::posix::CurlHttpSession session;
  reply.assign(1, '8');
  const auto start = Clock::now();
  tolvex::BytesBody whole(body);
  tolvex::ReplyCollector collector(reply);
  const bool ok = tolvex::PostRequest(session, address, display, whole, collector);
  Sample s;
  s.total = Seconds(Clock::now() - start);
  s.send = Seconds(display.shown - start);
  s.peak_growth_kib = StatusKiB("VmHWM:") - before;
  s.ok = ok && reply.size() == size;
  return s;
}

Sample PostInChild(const tolvex::ServerAddress& address, const tolvex::Bytes& body,
                   std::size_t size) {
  int out[2];
  if (pipe(out) != 0) throw std::runtime_error("pipe");
  const pid_t pid = fork();
  if (pid == 0) {
    tolvex::Bytes reply;
    const Sample s = PostOnce(address, body, reply, size);
    if (write(out[1], &s, sizeof s) != sizeof s) _exit(1);
    _exit(0);
  }
  close(out[1]);
  Sample s;
  if (read(out[0], &s, sizeof s) != sizeof s) s.ok = false;
  close(out[0]);
  waitpid(pid, nullptr, 0);
  return s;
}

double RunCurl(const std::string& url, const std::string& body_file) {
  const std::string command =
      "curl -s -S --http1.0 -A VB6 -H 'Accept:' -H 'Content-Type:application/x-www-form-urlencoded'"
      " --data-binary @" +
      body_file + " -o /dev/null " + url;
  const auto start = Clock::now();
  if (std::system(command.c_str()) != 0) throw std::runtime_error("curl failed");
  return Seconds(Clock::now() - start);
}

struct Series {
  std::vector<double> total, send, curl;
  long peak_growth_kib = 0;
};

void Report(const char* name, const Series& s, double mib) {
  std::printf(
      "%-6s PostRequest %7.1f ms (send %5.1f ms)   curl %7.1f ms   ratio %.2f   "
      "peak RSS growth %6.1f MiB = %.2f x reply\n",
      name, Median(s.total) * 1e3, Median(s.send) * 1e3, Median(s.curl) * 1e3,
      Median(s.total) / Median(s.curl), s.peak_growth_kib / 1024.0,
      s.peak_growth_kib / 1024.0 / mib);
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t size = 64u << 20;
  int rounds = 7;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::string(argv[i]) == "--size") size = std::strtoull(argv[i + 1], nullptr, 10);
    if (std::string(argv[i]) == "--rounds") rounds = std::atoi(argv[i + 1]);
  }
  // The server refuses to start without a root that names its companies.
  const std::string root = "/tmp/tolvex-http-bench-root";
  mkdir(root.c_str(), 0700);
  std::ofstream(root + "/companies.txt") << "ACME key\n";
  const tolvex::bench::SampleServer server({"--root", root, "--reply-size", std::to_string(size)});
  const std::string url =
      "http://127.0.0.1:" + std::to_string(server.port()) + "/servlets/GetSOData";
  const std::string header = "3ACME        key" + std::string(47, ' ');
  const tolvex::Bytes body(header.begin(), header.end());
  const std::string body_file = "/tmp/tolvex-http-bench-body";
  std::ofstream(body_file) << header;
  tolvex::ServerAddress address;
  tolvex::ParseServerUrl(tolvex::FromUtf8(url), address);

  RunCurl(url, body_file);  // the server makes its reply once; keep that out of the figures
  Series fresh, kept;
  tolvex::Bytes kept_reply;
  // All fresh posts first: a child must not inherit an allocator that a
  // post in this process has already shaped.
  for (Series* series : {&fresh, &kept}) {
    for (int round = 0; round < rounds; ++round) {
      const Sample s = series == &fresh ? PostInChild(address, body, size)
                                        : PostOnce(address, body, kept_reply, size);
      if (!s.ok) {
        std::fprintf(stderr, "post failed\n");
        return 1;
      }
      series->total.push_back(s.total);
      series->send.push_back(s.send);
      series->peak_growth_kib = std::max(series->peak_growth_kib, s.peak_growth_kib);
      series->curl.push_back(RunCurl(url, body_file));
    }
  }
  std::remove(body_file.c_str());

  const double mib = static_cast<double>(size) / (1 << 20);
  std::printf("reply %.1f MiB, %d rounds, medians; curl = the curl command, wall time\n", mib,
              rounds);
  Report("fresh", fresh, mib);
  Report("kept", kept, mib);
  return 0;
}
