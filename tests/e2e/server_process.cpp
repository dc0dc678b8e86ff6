#include "server_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace tolvex::e2e {

namespace {

// The ThreadSanitizer run uses a server from a plain build: the server is
// the test's tool, not what is under test.
std::string ServerPath() {
  const char* server = std::getenv("TOLVEX_TEST_SERVER");
  return server != nullptr ? server : TOLVEX_SERVER_PATH;
}

// Everything the descriptor gives until it closes, `ms` pass without a
// byte, or the text holds `until`.
std::string ReadUntilQuiet(int fd, int ms, const std::string& until = {}) {
  std::string text;
  pollfd p{fd, POLLIN, 0};
  char buffer[4096];
  while ((until.empty() || text.find(until) == std::string::npos) && poll(&p, 1, ms) == 1) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got <= 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
  }
  return text;
}

}  // namespace

ServerProcess::ServerProcess(const std::filesystem::path& root,
                             const std::vector<std::string>& args)
    : log_(root / "server.log") {
  std::vector<std::string> argv_storage = {ServerPath(), "--listen", "127.0.0.1:0", "--root",
                                           root.string()};
  argv_storage.insert(argv_storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argv_storage) argv.push_back(a.data());
  argv.push_back(nullptr);

  int out[2];
  if (pipe(out) != 0) throw std::runtime_error("pipe");
  const int log_fd = open(log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_ = fork();
  if (pid_ == 0) {
    dup2(out[1], STDOUT_FILENO);
    dup2(log_fd, STDERR_FILENO);
    close(out[0]);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  close(log_fd);

  std::string line;
  pollfd p{out[0], POLLIN, 0};
  char c;
  // A server that cannot start exits, which ends the wait at once; one
  // that is only slow (a sanitizer build on a loaded machine, its binary
  // read back from a busy disk) is given a minute.
  while (line.find('\n') == std::string::npos && poll(&p, 1, 60000) == 1 &&
         read(out[0], &c, 1) == 1) {
    line += c;
  }
  close(out[0]);
  const auto colon = line.rfind(':');
  if (line.rfind("listening on ", 0) != 0 || colon == std::string::npos) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    throw std::runtime_error("tolvex-server did not start: " + line + Log());
  }
  port_ = static_cast<std::uint16_t>(std::atoi(line.c_str() + colon + 1));
}

ServerProcess::~ServerProcess() { Stop(); }

bool ServerProcess::Stop() {
  if (pid_ <= 0) return true;
  const pid_t pid = pid_;
  pid_ = -1;
  kill(pid, SIGTERM);
  int status = 0;
  for (int i = 0; i < 100; ++i) {
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    usleep(50000);
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return false;
}

std::string ServerProcess::Log() const { return ReadFile(log_); }

bool ServerProcess::Logged(const std::string& text) const {
  for (int i = 0; i < 100; ++i) {
    if (Log().find(text) != std::string::npos) return true;
    usleep(50000);
  }
  return false;
}

ServerExit RunServerToExit(const std::vector<std::string>& args) {
  std::vector<std::string> argv_storage = {ServerPath()};
  argv_storage.insert(argv_storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argv_storage) argv.push_back(a.data());
  argv.push_back(nullptr);

  int out[2], err[2];
  if (pipe(out) != 0 || pipe(err) != 0) throw std::runtime_error("pipe");
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    close(out[0]);
    close(err[0]);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  ServerExit result;
  // A server that started after all is stopped, not waited for.
  result.err = ReadUntilQuiet(err[0], 10000);
  result.out = ReadUntilQuiet(out[0], 100);
  close(out[0]);
  close(err[0]);
  int status = 0;
  if (waitpid(pid, &status, WNOHANG) != pid) {
    for (int i = 0; i < 20 && waitpid(pid, &status, WNOHANG) != pid; ++i) usleep(50000);
    if (kill(pid, 0) == 0) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
    }
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

RawConnection::RawConnection(std::uint16_t port) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd_ < 0 || connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    throw std::runtime_error("cannot connect to port " + std::to_string(port));
  }
}

RawConnection::~RawConnection() {
  if (fd_ >= 0) close(fd_);
}

bool RawConnection::Send(const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

std::string RawConnection::Receive(int ms, const std::string& until) {
  return ReadUntilQuiet(fd_, ms, until);
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tolvex-e2e-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void WriteFile(const std::filesystem::path& path, const std::string& content) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out << content;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace tolvex::e2e
