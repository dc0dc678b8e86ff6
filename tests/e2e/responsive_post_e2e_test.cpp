// The post runs beside the dialog's loop: a server that never answers
// times out, a slow but live one does not, and Cancel (Ctrl-C for the
// command) ends the call at once. Each case is followed by a normal call.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <thread>

#include "archive/zip_archiver.h"
#include "component/text.h"
#include "component/tolvex.h"
#include "curl_http_session.h"
#include "dialog/frm_tolvex.h"
#include "e2e/server_process.h"
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

  TempDir temp_;
};

TEST_F(ResponsivePost, ServerThatNeverAnswersTimesOutAfterFourPeriods) {
  Component c(150);
  ServerProcess silent(data(), {"--never-answer"});
  const auto start = Clock::now();
  EXPECT_EQ(Recv(c, silent), 91);
  const auto elapsed = Clock::now() - start;
  EXPECT_EQ(c.tolvex.ErrorMsg, u"応答タイムアウト");
  EXPECT_GE(elapsed, std::chrono::milliseconds(4 * 150));
  EXPECT_LT(elapsed, std::chrono::seconds(5));
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

// A closed terminal (SIGHUP) and a polite kill (SIGTERM) cancel as Ctrl-C
// does, for both calls, and leave nothing in the caller's directory.
TEST_F(ResponsivePost, CtrlCDuringThePostCancelsTheCommand) {
  ServerProcess silent(data(), {"--never-answer"});
  const std::string url = "http://127.0.0.1:" + std::to_string(silent.port()) + "/";
  const struct {
    int signal_number;
    const char* call;
    const char* file;
  } cases[] = {
      {SIGINT, "recv", "orders.txt"},   {SIGINT, "recv", "orders.txt"},
      {SIGTERM, "recv", "orders.txt"},  {SIGHUP, "recv", "orders.txt"},
      {SIGINT, "send", "progress.txt"}, {SIGTERM, "send", "progress.txt"},
      {SIGHUP, "send", "progress.txt"},
  };
  int attempt = 0;
  for (const auto& c : cases) {
    ++attempt;
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
    // Give the command time to start its post.
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    const auto pressed = Clock::now();
    kill(pid, c.signal_number);
    int status = 0;
    waitpid(pid, &status, 0);
    const auto took = Clock::now() - pressed;
    std::string printed;
    char buffer[256];
    ssize_t got;
    while ((got = read(out[0], buffer, sizeof buffer)) > 0) printed.append(buffer, got);
    close(out[0]);
    ASSERT_TRUE(WIFEXITED(status)) << attempt;
    EXPECT_EQ(WEXITSTATUS(status), 99) << attempt;
    EXPECT_EQ(printed, "") << attempt;
    EXPECT_LT(took, std::chrono::seconds(3)) << attempt;
    EXPECT_EQ(ReadFile(client() / "orders.txt"), "old orders") << attempt;
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(client())) {
      names.insert(entry.path().filename().string());
    }
    EXPECT_EQ(names, (std::set<std::string>{"orders.txt", "progress.txt"})) << attempt;
  }
}

}  // namespace
}  // namespace tolvex::e2e
