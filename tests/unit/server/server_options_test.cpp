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
      {{"--listen", "127.0.0.1:8080", "--context", "app/"}, "127.0.0.1", 8080, "/app"},
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
                                             {"--delay-ms"},
                                             {"--charset", "NO-SUCH-CHARSET"},
                                             {"--charset", ""},
                                             {"stray"}}) {
    EXPECT_THROW(ParseServerOptions(bad), std::invalid_argument) << bad[0];
  }
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
