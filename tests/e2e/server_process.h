// tolvex-server run as a child process for one test, stopped with SIGTERM.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tolvex::e2e {

class ServerProcess {
 public:
  // Starts the server on 127.0.0.1 port 0 with these extra arguments and
  // waits for the line that names its port.
  ServerProcess(const std::filesystem::path& root, const std::vector<std::string>& args);
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  std::uint16_t port() const { return port_; }
  // SIGTERM; true when the server then exited cleanly on its own.
  bool Stop();
  // Everything the server logged so far.
  std::string Log() const;
  // Whether the log holds `text`, waiting up to 5 s for it: a request's
  // line is written just after its reply went out.
  bool Logged(const std::string& text) const;

 private:
  pid_t pid_ = -1;
  std::uint16_t port_ = 0;
  std::filesystem::path log_;
};

// How a tolvex-server run meant to end on its own ended: the exit status
// (128 + signal when it still ran after ten seconds and was killed) and
// what it wrote to standard output and standard error.
struct ServerExit {
  int status = -1;
  std::string out;
  std::string err;
};
// Runs tolvex-server with exactly these arguments.
ServerExit RunServerToExit(const std::vector<std::string>& args);

// A client connection to 127.0.0.1:port that sends raw bytes, for
// requests no well-behaved client would make. Closed with the object.
class RawConnection {
 public:
  explicit RawConnection(std::uint16_t port);
  ~RawConnection();
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  bool Send(const std::string& bytes);
  // What arrives until the peer closes, `ms` pass without a byte, or the
  // text holds `until` (when not empty).
  std::string Receive(int ms, const std::string& until = {});

 private:
  int fd_ = -1;
};

// A fresh directory under the system's temporary directory, removed with
// its contents when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

void WriteFile(const std::filesystem::path& path, const std::string& content);
std::string ReadFile(const std::filesystem::path& path);

}  // namespace tolvex::e2e
