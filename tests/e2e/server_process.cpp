#include "server_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace tolvex::e2e {

ServerProcess::ServerProcess(const std::filesystem::path& root,
                             const std::vector<std::string>& args)
    : log_(root / "server.log") {
  // The ThreadSanitizer run uses a server from a plain build: the server is
  // the test's tool, not what is under test.
  const char* server = std::getenv("TOLVEX_TEST_SERVER");
  std::vector<std::string> argv_storage = {server != nullptr ? server : TOLVEX_SERVER_PATH,
                                           "--listen", "127.0.0.1:0", "--root", root.string()};
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
  while (line.find('\n') == std::string::npos && poll(&p, 1, 10000) == 1 &&
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
