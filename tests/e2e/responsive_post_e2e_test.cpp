// The post runs beside the dialog's loop: a server that never answers
// times out, a slow but live one does not however long it takes, and
// Cancel (Ctrl-C for the command) ends the call at once.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <random>
#include <set>
#include <thread>

#include "archive/zip_archiver.h"
#include "component/text.h"
#include "component/tolvex.h"
#include "curl_http_session.h"
#include "dialog/frm_tolvex.h"
#include "e2e/raw_listener.h"
#include "e2e/server_process.h"
#include "net/form_codec.h"
#include "pack_company_data.h"
#include "terminal_dialog_window.h"

namespace tolvex::e2e {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// One loaded component on the real back ends, with the response timer's
// period shortened the way only a test can.
struct Component {
  explicit Component(std::uint32_t period_ms) { dialog.response_period_ms = period_ms; }
  StdFileSystem files;
  posix::CurlHttpSession http;
  ZipArchiver archive{files, kPosixPathStyle};
  posix::TerminalDialogWindow window{true};
  JobState state;
  ServerAddress address;
  FrmTolvex dialog{window, {state, address, http, archive, files, kPosixPathStyle}};
  NoMousePointer pointer;
  Tolvex tolvex{{state, dialog, pointer, files}};
};

class ResponsivePost : public ::testing::Test {
 protected:
  ResponsivePost() {
    WriteFile(data() / "companies.txt", "C001 key-1\n");
    WriteFile(data() / "outgoing" / "C001.dat", std::string(3000, 'x'));
    WriteFile(client() / "orders.txt", "old orders");
    WriteFile(client() / "progress.txt", "progress");
  }
  fs::path data() const { return temp_.path() / "data"; }
  fs::path client() const { return temp_.path() / "client"; }
  static std::u16string Url(const ServerProcess& s) {
    return u"http://127.0.0.1:" + FromUtf8(std::to_string(s.port())) + u"/";
  }
  std::int16_t Recv(Component& c, const ServerProcess& s) {
    return c.tolvex.RecvSO(Url(s), u"key-1", u"C001",
                           Variant::String(FromUtf8((client() / "orders.txt").string())));
  }
  std::int16_t Send(Component& c, const ServerProcess& s) {
    return c.tolvex.SendProgress(Url(s), u"key-1", u"C001",
                                 Variant::String(FromUtf8((client() / "progress.txt").string())));
  }

  // A data reply of 20 MB of plain bytes; its file's path.
  std::string LongReply() const {
    const fs::path file = temp_.path() / "long-reply.txt";
    if (!fs::exists(file)) WriteFile(file, "0" + std::string(20'000'000, 'a'));
    return file.string();
  }
  std::set<std::string> ClientFiles() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(client())) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

  TempDir temp_;
};

TEST_F(ResponsivePost, ServerThatNeverAnswersTimesOutAfterFourPeriods) {
  Component c(150);
  ServerProcess silent(data(), {"--never-answer"});
  const auto start = Clock::now();
  EXPECT_EQ(Recv(c, silent), 91);
  const auto elapsed = Clock::now() - start;
  EXPECT_EQ(c.tolvex.ErrorMsg, u"応答タイムアウト");
  // Not before the fourth period; how long after it is the machine's load.
  EXPECT_GE(elapsed, std::chrono::milliseconds(4 * 150));
  EXPECT_EQ(ReadFile(client() / "orders.txt"), "old orders");

  EXPECT_EQ(Send(c, silent), 91);
  EXPECT_FALSE(fs::exists(client() / "progress.zip"));  // nothing is left behind

  ServerProcess live(data(), {});
  EXPECT_EQ(Recv(c, live), 0);
  EXPECT_EQ(ReadFile(client() / "orders.txt"), std::string(3000, 'x'));
  EXPECT_EQ(Send(c, live), 0);
}

TEST_F(ResponsivePost, SlowButLiveReplyDoesNotTimeOutEarly) {
  // About 1.2 s of trickling against a limit of four 600 ms periods.
  Component c(600);
  ServerProcess slow(data(), {"--trickle", "40/10"});
  EXPECT_EQ(Recv(c, slow), 0);
  EXPECT_EQ(c.tolvex.ErrorMsg, u"");
  EXPECT_EQ(ReadFile(client() / "orders.txt"), std::string(3000, 'x'));
  EXPECT_EQ(Recv(c, slow), 0);  // and again: the count starts afresh
}

std::string RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

// Bytes that keep moving, in either direction, keep the post alive however
// long it lasts; only four whole periods without a byte end it with 91.
// The bounds are lower ones: a load that slows the machine only makes a
// post longer, and how long a post takes is measured in bench/.
TEST_F(ResponsivePost, SilenceNotLengthEndsThePost) {
  constexpr std::uint32_t kPeriod = 400;
  const std::string half = std::to_string(kPeriod / 2);
  WriteFile(data() / "outgoing" / "C001.dat", RandomBytes(6000, 1));
  Bytes reply_payload;
  EncodeFormBytes(server::PackCompanyData(data() / "outgoing" / "C001.dat"), reply_payload);
  // Twelve pieces, the first at once and one every half period after it.
  const std::string reply_piece = std::to_string((1 + reply_payload.size()) / 11 + 1);
  // Incompressible, so the body is about 2.5 times this: several times the
  // few MiB that loopback socket buffers take in before the reader does.
  WriteFile(client() / "progress.txt", RandomBytes(5 * 1024 * 1024, 2));
  constexpr std::size_t kBodyPiece = 25 * 1024 * 1024 / 2 / 12;
  auto slow_reader = [&](std::size_t piece, std::size_t stop_after) {
    RawListener::Script script{"HTTP/1.0 200 OK\r\nContent-Length: 1\r\n\r\n0"};
    script.read_piece = piece;
    script.read_pause_ms = kPeriod / 2;
    script.stop_reading_after = stop_after;
    return script;
  };
  const struct {
    const char* name;
    std::vector<std::string> server_args;         // a receive from tolvex-server
    std::optional<RawListener::Script> listener;  // a send to a raw listener
    std::int16_t code;
    double min_periods;
  } cases[] = {
      {"a reply trickled over about six periods",
       {"--trickle", reply_piece + "/" + half},
       std::nullopt,
       0,
       5},
      {"a reply silent for four periods after its first piece",
       {"--trickle", reply_piece + "/100000"},
       std::nullopt,
       91,
       4},
      {"an upload taken slowly over about six periods",
       {},
       slow_reader(kBodyPiece, static_cast<std::size_t>(-1)),
       0,
       4},
      {"an upload no longer taken for four periods", {}, slow_reader(0, 256 * 1024), 91, 4},
      {"a long reply silent for four periods after its first 10 MB",
       {"--reply-file", LongReply(), "--trickle", "10000000/100000"},
       std::nullopt,
       91,
       4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Component component(kPeriod);
    // The peer is up before the clock starts: a slow start on a loaded
    // machine is not the post's time.
    std::optional<RawListener> listener;
    std::optional<ServerProcess> server;
    if (c.listener) {
      listener.emplace(*c.listener);
    } else {
      server.emplace(data(), c.server_args);
    }
    const auto start = Clock::now();
    std::int16_t code;
    if (listener) {
      code = component.tolvex.SendProgress(
          u"http://127.0.0.1:" + FromUtf8(std::to_string(listener->port())) + u"/", u"key-1",
          u"C001", Variant::String(FromUtf8((client() / "progress.txt").string())));
      listener->Release();
    } else {
      code = Recv(component, *server);
    }
    const double periods =
        std::chrono::duration<double>(Clock::now() - start).count() * 1000 / kPeriod;
    EXPECT_EQ(code, c.code);
    EXPECT_GE(periods, c.min_periods);
    // Whatever had streamed into the work file went with it.
    EXPECT_EQ(ClientFiles(), (std::set<std::string>{"orders.txt", "progress.txt"}));
  }
  EXPECT_TRUE(ReadFile(client() / "orders.txt") == RandomBytes(6000, 1));
}

TEST(TerminalProgress, TellsDirectionAmountShareAndRate) {
  const struct {
    TransferCounts counts;
    double seconds;
    const char* text;
  } cases[] = {
      {{0, 1000, 0, std::nullopt}, 0, "sent 0 B of 1000 B (0%)"},
      {{1536, 3072, 0, std::nullopt}, 1, "sent 1.5 KiB of 3.0 KiB (50%), 1.5 KiB/s"},
      // Once reply bytes come, they are what moves.
      {{3072, 3072, 5 << 20, 10 << 20}, 2, "received 5.0 MiB of 10.0 MiB (50%), 2.5 MiB/s"},
      {{63, 63, 100, std::nullopt}, 0.5, "received 100 B, 200 B/s"},
      // A reply longer than it announced never shows more than all of it.
      {{63, 63, 200, 100}, 0, "received 200 B of 100 B (100%)"},
      {{63, 63, 7, 0}, 0, "received 7 B"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(posix::TerminalDialogWindow::DescribeProgress(c.counts, c.seconds), c.text);
  }
}

// Bytes in the call's work files so far: a receive's reply streams there.
std::uintmax_t StreamedBytes(const fs::path& dir) {
  std::uintmax_t bytes = 0;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(dir, error);
       it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (it->path().string().find(".tolvex-") != std::string::npos && it->is_regular_file(error)) {
      bytes += it->file_size(error);
    }
  }
  return bytes;
}

std::size_t Occurrences(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// A closed terminal (SIGHUP) and a polite kill (SIGTERM) cancel as Ctrl-C
// does, for both calls, and leave nothing in the caller's directory; a
// second press while the first is honoured exits at once with 130.
TEST_F(ResponsivePost, CtrlCDuringThePostCancelsTheCommand) {
  ServerProcess silent(data(), {"--never-answer"});
  // A long reply coming in slowly: when the signal comes, megabytes of it
  // have streamed into the work file.
  // Its own root, so that its log, which the test waits on, is its own.
  WriteFile(temp_.path() / "streaming" / "companies.txt", "C001 key-1\n");
  ServerProcess streaming(temp_.path() / "streaming",
                          {"--reply-file", LongReply(), "--trickle", "1000000/100"});
  const struct {
    int signal_number;
    const char* call;
    const char* file;
    const ServerProcess& server;
    int second = 0;  // a second press, sent with the first
    int status = 99;
  } cases[] = {
      {SIGINT, "recv", "orders.txt", silent},
      {SIGINT, "recv", "orders.txt", silent},
      {SIGTERM, "recv", "orders.txt", silent},
      {SIGHUP, "recv", "orders.txt", silent},
      {SIGINT, "send", "progress.txt", silent},
      {SIGTERM, "send", "progress.txt", silent},
      {SIGHUP, "send", "progress.txt", silent},
      {SIGINT, "recv", "orders.txt", streaming},
      {SIGTERM, "recv", "orders.txt", streaming},
      {SIGINT, "recv", "orders.txt", silent, SIGTERM, 130},
      {SIGINT, "send", "progress.txt", silent, SIGHUP, 130},
  };
  int attempt = 0;
  for (const auto& c : cases) {
    ++attempt;
    const std::string url = "http://127.0.0.1:" + std::to_string(c.server.port()) + "/";
    fs::remove_all(client());
    WriteFile(client() / "orders.txt", "old orders");
    WriteFile(client() / "progress.txt", "progress");
    const std::string held = "reply held back";
    const std::size_t held_before = Occurrences(c.server.Log(), held);
    const std::string target = (client() / c.file).string();
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t pid = fork();
    if (pid == 0) {
      dup2(out[1], STDOUT_FILENO);
      close(out[0]);
      execl(TOLVEX_CLI_PATH, TOLVEX_CLI_PATH, "--quiet", c.call, url.c_str(), "key-1", "C001",
            target.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    // The press comes once the server holds the request: the post is on;
    // from the streaming server, once a megabyte of its reply is in.
    for (int i = 0; i < 1200 && Occurrences(c.server.Log(), held) == held_before; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_EQ(Occurrences(c.server.Log(), held), held_before + 1) << c.server.Log();
    for (int i = 0; i < 1200 && &c.server == &streaming && StreamedBytes(client()) < (1u << 20);
         ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (c.second != 0) {
      // Both pending before the command runs on: the second is taken while
      // the first is still being honoured. The stop takes effect some time
      // after kill returns; until then the command could take the first
      // press alone and finish its cancel.
      kill(pid, SIGSTOP);
      int stopped = 0;
      ASSERT_EQ(waitpid(pid, &stopped, WUNTRACED), pid) << attempt;
      ASSERT_TRUE(WIFSTOPPED(stopped)) << attempt;
      kill(pid, c.signal_number);
      kill(pid, c.second);
      kill(pid, SIGCONT);
    } else {
      kill(pid, c.signal_number);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    std::string printed;
    char buffer[256];
    ssize_t got;
    while ((got = read(out[0], buffer, sizeof buffer)) > 0) printed.append(buffer, got);
    close(out[0]);
    ASSERT_TRUE(WIFEXITED(status)) << attempt;
    EXPECT_EQ(WEXITSTATUS(status), c.status) << attempt;
    EXPECT_EQ(printed, "") << attempt;
    EXPECT_EQ(ReadFile(client() / "orders.txt"), "old orders") << attempt;
    // An exit at once may leave its work directory; a cancel may not.
    if (c.status == 130) continue;
    EXPECT_EQ(ClientFiles(), (std::set<std::string>{"orders.txt", "progress.txt"})) << attempt;
  }
}

}  // namespace
}  // namespace tolvex::e2e
