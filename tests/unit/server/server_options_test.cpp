#include "server_options.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace tolvex::server {
namespace {

TEST(ParseServerOptions, ListenAddressAndContext) {
  const struct {
    std::vector<std::string> args;
    std::string host;
    int port;
    std::string context;
    std::string charset = "";
  } cases[] = {
      {{}, "127.0.0.1", 0, ""},
      {{"--listen", "127.0.0.1:8080", "--context", "/app/"}, "127.0.0.1", 8080, "/app"},
      {{"--context", "/a-b/c.d_e~"}, "127.0.0.1", 0, "/a-b/c.d_e~"},
      {{"--listen", "[::1]:0", "--context", "/"}, "::1", 0, ""},
      {{"--charset", "CP932"}, "127.0.0.1", 0, "", "CP932"},
  };
  for (const auto& c : cases) {
    const ServerOptions o = ParseServerOptions(c.args);
    EXPECT_EQ(o.listen_host, c.host);
    EXPECT_EQ(o.listen_port, c.port);
    EXPECT_EQ(o.context, c.context);
    EXPECT_EQ(o.header_charset, c.charset);
  }
  for (const std::vector<std::string>& bad :
       std::vector<std::vector<std::string>>{{"--listen", "8080"},
                                             {"--listen", "h:65536"},
                                             {"--tls-cert", "c.pem"},
                                             {"--status", "20"},
                                             {"--trickle", "0/10"},
                                             {"--location", "http://a/\r\nX: y"},
                                             {"--delay-ms"},
                                             {"--charset", "NO-SUCH-CHARSET"},
                                             {"--charset", ""},
                                             {"stray"},
                                             {"--context", "app/"},
                                             {"--context", ""},
                                             {"--context", "/a b"},
                                             {"--context", "/a//b"},
                                             {"--context", "/a/../b"},
                                             {"--context", "/app?x=1"},
                                             {"--max-body", "0"},
                                             {"--max-body", "12Q"},
                                             {"--max-body", "99999999999999G"},
                                             {"--workers", "0"},
                                             {"--read-timeout", "-1"}}) {
    EXPECT_THROW(ParseServerOptions(bad), std::invalid_argument) << bad[0];
  }
}

TEST(ParseServerOptions, LimitsAndTimeouts) {
  const struct {
    std::vector<std::string> args;
    std::uint64_t max_body;
    std::size_t workers, read_timeout, idle_timeout;
  } cases[] = {
      {{}, 1ull << 30, 64, 30, 5},
      {{"--max-body", "1000"}, 1000, 64, 30, 5},
      {{"--max-body", "64k", "--workers", "3"}, 64ull << 10, 3, 30, 5},
      {{"--max-body", "2M", "--read-timeout", "7", "--idle-timeout", "1"}, 2ull << 20, 64, 7, 1},
      {{"--max-body", "4G"}, 4ull << 30, 64, 30, 5},
  };
  for (const auto& c : cases) {
    const ServerOptions o = ParseServerOptions(c.args);
    EXPECT_EQ(o.max_body, c.max_body) << c.args.size();
    EXPECT_EQ(o.workers, c.workers);
    EXPECT_EQ(o.read_timeout_seconds, c.read_timeout);
    EXPECT_EQ(o.idle_timeout_seconds, c.idle_timeout);
  }
}

TEST(ParseServerOptions, HelpAndVersionNeedNoValueAndEndTheLine) {
  EXPECT_TRUE(ParseServerOptions({"--help"}).help);
  EXPECT_TRUE(ParseServerOptions({"--version"}).version);
  EXPECT_TRUE(ParseServerOptions({"--status", "200", "--help"}).help);
  EXPECT_TRUE(ParseServerOptions({"--help", "stray", "--listen"}).help);
  EXPECT_FALSE(ParseServerOptions({}).help);
}

TEST(CheckServerSetup, RootMustBeADirectoryWithCompanies) {
  namespace fs = std::filesystem;
  const auto base = fs::temp_directory_path() / "tolvex-setup-test";
  fs::remove_all(base);
  fs::create_directories(base / "empty");
  fs::create_directories(base / "good");
  fs::create_directories(base / "listdir" / "companies.txt");
  std::ofstream(base / "good" / "companies.txt") << "C k\n";
  std::ofstream(base / "file") << "x";
  const struct {
    const char* root;
    std::string error_starts;
  } cases[] = {
      {"good", ""},
      {"missing", "--root"},
      {"file", "--root"},
      {"empty", "no readable companies.txt"},
      {"listdir", "no readable companies.txt"},
  };
  for (const auto& c : cases) {
    ServerOptions o;
    o.root = (base / c.root).string();
    const std::string error = CheckServerSetup(o);
    EXPECT_EQ(error.substr(0, c.error_starts.size()), c.error_starts) << c.root << ": " << error;
    EXPECT_EQ(error.empty(), c.error_starts.empty()) << c.root;
  }
  fs::remove_all(base);
}

TEST(CurrentMisbehaviour, ControlFileOverridesTheFlags) {
  const auto file = std::filesystem::temp_directory_path() / "tolvex-control-test.txt";
  ServerOptions o = ParseServerOptions(
      std::vector<std::string>{"--status", "500", "--delay-ms", "10", "--control", file.string()});
  std::filesystem::remove(file);
  EXPECT_EQ(CurrentMisbehaviour(o).status, 500);  // no file: the flags alone

  std::ofstream(file) << "# test\nstatus=404\ntrickle=3/20\nnever-answer\nbogus=1\n";
  const Misbehaviour m = CurrentMisbehaviour(o);
  EXPECT_EQ(m.status, 404);
  EXPECT_EQ(m.delay_ms, 10u);
  EXPECT_EQ(m.trickle_bytes, 3u);
  EXPECT_EQ(m.trickle_ms, 20u);
  EXPECT_TRUE(m.never_answer);
  std::filesystem::remove(file);
}

}  // namespace
}  // namespace tolvex::server
