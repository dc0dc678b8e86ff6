// tolvex-server on a free loopback port for as long as a benchmark needs
// it: started with the given arguments after its listen address, stopped
// when the object goes or Stop is called.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace tolvex::bench {

class SampleServer {
 public:
  explicit SampleServer(const std::vector<std::string>& args) {
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      const int null_fd = open("/dev/null", O_WRONLY);
      dup2(null_fd, STDERR_FILENO);
      std::vector<std::string> all{TOLVEX_SERVER_PATH, "--listen", "127.0.0.1:0"};
      all.insert(all.end(), args.begin(), args.end());
      std::vector<char*> argv;
      for (std::string& arg : all) argv.push_back(arg.data());
      argv.push_back(nullptr);
      execv(TOLVEX_SERVER_PATH, argv.data());
      _exit(127);
    }
    close(out[1]);
    // Its first line names the port it listens on.
    std::string line;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
    close(out[0]);
    const auto colon = line.rfind(':');
    if (colon == std::string::npos) {
      Stop();
      throw std::runtime_error("server did not start");
    }
    port_ = std::atoi(line.c_str() + colon + 1);
  }
  SampleServer(const SampleServer&) = delete;
  SampleServer& operator=(const SampleServer&) = delete;
  ~SampleServer() { Stop(); }

  int port() const { return port_; }
  // Stops the server; its peak resident set in MiB is then known.
  void Stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      rusage usage{};
      wait4(pid_, nullptr, 0, &usage);
      peak_mib_ = static_cast<double>(usage.ru_maxrss) / 1024.0;  // KiB on Linux
      pid_ = -1;
    }
  }
  double peak_mib() const { return peak_mib_; }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  double peak_mib_ = 0;
};

}  // namespace tolvex::bench
